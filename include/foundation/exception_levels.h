// Archiving of persistent exceptions by class levels: each level writes one version byte (which must be 0)
// and is archived once per archiving pass, so an exception reached twice in one pass is written once.
#pragma once

#include <cstddef>

#include <foundation/archive.h>
#include <foundation/persistent.h>

// Visited-mark levels of an exception hierarchy: a tool's abstract Errors class, then its concrete classes.
// (xcExceptionWithString's own level is 0.)
constexpr std::size_t kXcErrorsLevel = 1;
constexpr std::size_t kXcConcreteErrorLevel = 2;

// Archives one class level of `object`: nothing when it was already archived at this level in this pass;
// else its level byte (on loading, a nonzero byte throws xcArchive::UnknownVersion naming `className`),
// then `below(version)`, which archives the levels under it.
template <class Below>
void xf_ArchiveExceptionLevel(xcArchive& ar, const void* object, std::size_t level, const char* className,
                              Below below) {
  if (xcPersistent::haveVisited(object, level)) return;
  unsigned char version = 0;
  ar || version;
  if (version != 0) throw xcArchive::UnknownVersion(className);
  below(version);
  xcPersistent::setVisited(object, level);
}

// The registry's factory for a persistent class: a new default instance.
template <class T>
xcPersistent* xf_MakeDefaultInstance() {
  return new T();
}

// Defines the archive levels and rethrow of a concrete exception `Scope::Class` derived from `Scope::Errors`:
// its own level, then the Errors level. The classes of one scope differ only in their names.
#define XC_DEFINE_ARCHIVED_ERROR(Scope, Class)                                                \
  void Scope::Class::dispatchSerialize(xcArchive& ar) {                                       \
    xf_ArchiveExceptionLevel(ar, this, kXcConcreteErrorLevel, #Scope "::" #Class,             \
                             [&](unsigned char version) { serialize_(ar, version); });        \
  }                                                                                           \
  void Scope::Class::serialize_(xcArchive& ar, unsigned char version) {                       \
    if (version != 0) throw xcArchive::UnknownVersion(#Scope "::" #Class);                    \
    Errors::dispatchSerialize(ar);                                                            \
  }                                                                                           \
  void Scope::Class::suicideAndRethrow() {                                                    \
    Class copy(*this);                                                                        \
    delete this;                                                                              \
    throw copy;                                                                               \
  }

// Defines the archive levels of the abstract `Scope::Errors`: its level byte, then the message.
#define XC_DEFINE_ARCHIVED_ERRORS_BASE(Scope)                                                 \
  void Scope::Errors::dispatchSerialize(xcArchive& ar) {                                      \
    xf_ArchiveExceptionLevel(ar, this, kXcErrorsLevel, #Scope "::Errors",                     \
                             [&](unsigned char version) { serialize_(ar, version); });        \
  }                                                                                           \
  void Scope::Errors::serialize_(xcArchive& ar, unsigned char version) {                      \
    if (version != 0) throw xcArchive::UnknownVersion(#Scope "::Errors");                     \
    xcExceptionWithString::dispatchSerialize(ar);                                             \
  }
