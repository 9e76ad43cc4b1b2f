// The grid corresponder's exceptions: rethrowing, archiving by levels and registration for loading by
// name.
#include <foundation/archive.h>
#include <ptmatch/point_to_grid_corresponder.h>

namespace {

// Level numbers for the visited marks: one per class level of an exception object.
constexpr std::size_t kErrorsLevel = 1;
constexpr std::size_t kConcreteLevel = 2;

template <class T>
xcPersistent* makeInstance() {
  return new T();
}

const xc_Instantiator sInsufficientModelPointsExemplar(
    "xc_PointToGridCorresponderDefs::InsufficientModelPoints",
    typeid(xc_PointToGridCorresponderDefs::InsufficientModelPoints),
    &makeInstance<xc_PointToGridCorresponderDefs::InsufficientModelPoints>);
const xc_Instantiator sInsufficientMemoryExemplar(
    "xc_PointToGridCorresponderDefs::InsufficientMemory",
    typeid(xc_PointToGridCorresponderDefs::InsufficientMemory),
    &makeInstance<xc_PointToGridCorresponderDefs::InsufficientMemory>);

// Archives one class level: skipped when already archived in this pass, else the level byte, which must
// be 0 on loading, then the levels below.
template <class Below>
void archiveLevel(xcArchive& ar, const void* object, std::size_t level, const char* className, Below below) {
  if (xcPersistent::haveVisited(object, level)) return;
  unsigned char version = 0;
  ar || version;
  if (version != 0) throw xcArchive::UnknownVersion(className);
  below(version);
  xcPersistent::setVisited(object, level);
}

}  // namespace

const int xc_PointToGridCorresponderDefsRegistered = 1;

void xc_PointToGridCorresponderDefs::Errors::dispatchSerialize(xcArchive& ar) {
  archiveLevel(ar, this, kErrorsLevel, "xc_PointToGridCorresponderDefs::Errors",
               [&](unsigned char version) { serialize_(ar, version); });
}

void xc_PointToGridCorresponderDefs::Errors::serialize_(xcArchive& ar, unsigned char version) {
  if (version != 0) throw xcArchive::UnknownVersion("xc_PointToGridCorresponderDefs::Errors");
  xcExceptionWithString::dispatchSerialize(ar);
}

// The two concrete classes differ only in their names; each level archives itself, then Errors.
#define XC_GRID_CORRESPONDER_ERROR_LEVEL(Class)                                                   \
  void xc_PointToGridCorresponderDefs::Class::dispatchSerialize(xcArchive& ar) {                  \
    archiveLevel(ar, this, kConcreteLevel, "xc_PointToGridCorresponderDefs::" #Class,             \
                 [&](unsigned char version) { serialize_(ar, version); });                        \
  }                                                                                               \
  void xc_PointToGridCorresponderDefs::Class::serialize_(xcArchive& ar, unsigned char version) {  \
    if (version != 0) throw xcArchive::UnknownVersion("xc_PointToGridCorresponderDefs::" #Class); \
    Errors::dispatchSerialize(ar);                                                                \
  }                                                                                               \
  void xc_PointToGridCorresponderDefs::Class::suicideAndRethrow() {                               \
    Class copy(*this);                                                                            \
    delete this;                                                                                  \
    throw copy;                                                                                   \
  }

XC_GRID_CORRESPONDER_ERROR_LEVEL(InsufficientModelPoints)
XC_GRID_CORRESPONDER_ERROR_LEVEL(InsufficientMemory)

#undef XC_GRID_CORRESPONDER_ERROR_LEVEL
