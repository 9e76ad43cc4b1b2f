// The point matcher's exceptions: rethrowing, archiving by levels and registration for loading by name.
#include <ptmatch/point_matcher_defs.h>

#include <foundation/archive.h>

namespace {

// Level numbers for the visited marks: one per class level of an exception object.
constexpr std::size_t kErrorsLevel = 1;
constexpr std::size_t kConcreteLevel = 2;

template <class T>
xcPersistent* makeInstance() {
  return new T();
}

const xc_Instantiator sBadParamsExemplar("xcPointMatcherDefs::BadParams", typeid(xcPointMatcherDefs::BadParams),
                                         &makeInstance<xcPointMatcherDefs::BadParams>);
const xc_Instantiator sNotTrainedExemplar("xcPointMatcherDefs::NotTrained",
                                          typeid(xcPointMatcherDefs::NotTrained),
                                          &makeInstance<xcPointMatcherDefs::NotTrained>);
const xc_Instantiator sNotRunExemplar("xcPointMatcherDefs::NotRun", typeid(xcPointMatcherDefs::NotRun),
                                      &makeInstance<xcPointMatcherDefs::NotRun>);
const xc_Instantiator sInsufficientExemplar("xcPointMatcherDefs::InsufficientModelPoints",
                                            typeid(xcPointMatcherDefs::InsufficientModelPoints),
                                            &makeInstance<xcPointMatcherDefs::InsufficientModelPoints>);

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

const int xc_PointMatcherDefsRegistered = 1;

void xcPointMatcherDefs::Errors::dispatchSerialize(xcArchive& ar) {
  archiveLevel(ar, this, kErrorsLevel, "xcPointMatcherDefs::Errors",
               [&](unsigned char version) { serialize_(ar, version); });
}

void xcPointMatcherDefs::Errors::serialize_(xcArchive& ar, unsigned char version) {
  if (version != 0) throw xcArchive::UnknownVersion("xcPointMatcherDefs::Errors");
  xcExceptionWithString::dispatchSerialize(ar);
}

// The four concrete classes differ only in their names; each level archives itself, then Errors.
#define XC_POINT_MATCHER_ERROR_LEVEL(Class)                                                           \
  void xcPointMatcherDefs::Class::dispatchSerialize(xcArchive& ar) {                                  \
    archiveLevel(ar, this, kConcreteLevel, "xcPointMatcherDefs::" #Class,                             \
                 [&](unsigned char version) { serialize_(ar, version); });                            \
  }                                                                                                   \
  void xcPointMatcherDefs::Class::serialize_(xcArchive& ar, unsigned char version) {                  \
    if (version != 0) throw xcArchive::UnknownVersion("xcPointMatcherDefs::" #Class);                 \
    Errors::dispatchSerialize(ar);                                                                    \
  }                                                                                                   \
  void xcPointMatcherDefs::Class::suicideAndRethrow() {                                               \
    Class copy(*this);                                                                                \
    delete this;                                                                                      \
    throw copy;                                                                                       \
  }

XC_POINT_MATCHER_ERROR_LEVEL(BadParams)
XC_POINT_MATCHER_ERROR_LEVEL(NotTrained)
XC_POINT_MATCHER_ERROR_LEVEL(NotRun)
XC_POINT_MATCHER_ERROR_LEVEL(InsufficientModelPoints)

#undef XC_POINT_MATCHER_ERROR_LEVEL
