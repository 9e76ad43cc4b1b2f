// Persistent objects: the base of every class that archives itself polymorphically, the per-pass visited
// marks that keep a shared object from being written twice, and the registry that recreates a class from
// its archived name.
#pragma once

#include <cstddef>
#include <string>
#include <typeinfo>

class xcArchive;

// Base of objects that can be archived through a pointer and recreated by name on loading.
class xcPersistent {
 public:
  virtual ~xcPersistent() = default;

  // Returns the object to its freshly constructed state; the registry's factories already do this.
  virtual void reInit() {}
  // Loads the object's record from the archive without the registered name in front of it.
  virtual void loadSimple(xcArchive& ar) { dispatchSerialize(ar); }

  // Whether (object, level) was already archived in the current pass, and marking it so. Outside a pass
  // nothing is ever marked visited, so every call archives.
  static bool haveVisited(const void* object, std::size_t level);
  static void setVisited(const void* object, std::size_t level);

 protected:
  xcPersistent() = default;
  xcPersistent(const xcPersistent&) = default;
  xcPersistent& operator=(const xcPersistent&) = default;

  // Archives every level of the object, most derived first. Storing and loading use the same code.
  virtual void dispatchSerialize(xcArchive& ar) = 0;

  friend xcArchive& operator||(xcArchive& ar, xcPersistent*& object);
};

// One archiving pass: the visited marks live as long as the outermost pass of the thread. Archiving an
// object through `operator||(xcArchive&, xcPersistent*&)` opens a pass of its own; a caller that archives
// several objects that share sub-objects opens one around all of them.
class xcArchivePass {
 public:
  xcArchivePass();
  ~xcArchivePass();
  xcArchivePass(const xcArchivePass&) = delete;
  xcArchivePass& operator=(const xcArchivePass&) = delete;
};

// Registers a persistent class with a factory that makes a default instance. Define one static instance
// per class; the registered name is what the archive stores in front of the object. Registering a name
// twice keeps the first factory.
class xc_Instantiator {
 public:
  using Factory = xcPersistent* (*)();

  // Registers under the type's implementation name (stable across g++ and clang on one platform).
  xc_Instantiator(const std::type_info& type, Factory make);
  // Registers under a readable, portable name, and under the type's implementation name as well.
  xc_Instantiator(const char* name, const std::type_info& type, Factory make);

  // The registered name of a type, or an empty string when the type is not registered.
  static std::string nameOf(const std::type_info& type);
  // A new default instance of the named class; null when the name is not registered.
  static xcPersistent* create(const std::string& name);
};

// Stores the object with its registered name in front; on loading, reads the name, creates the object
// through the registry and reads the object into it. A null pointer is stored as an empty name and loads
// as null. The loaded object belongs to the caller. Throws xcArchive::BadData for an unregistered name.
xcArchive& operator||(xcArchive& ar, xcPersistent*& object);
