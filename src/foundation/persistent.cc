// Visited marks of an archiving pass, and the registry from a class's archived name to its factory.
#include <foundation/persistent.h>

#include <map>
#include <mutex>
#include <set>
#include <utility>

#include <foundation/archive.h>

namespace {

// Marks are per thread: two threads archiving at once never see each other's passes.
struct PassState {
  int depth = 0;
  std::set<std::pair<const void*, std::size_t>> visited;
};

PassState& passState() {
  thread_local PassState state;
  return state;
}

// The registry is filled by static initialisers while the library loads and read afterwards; the mutex
// covers programs that load further libraries from several threads.
struct Registry {
  std::mutex mutex;
  std::map<std::string, xc_Instantiator::Factory> byName;
  std::map<std::string, std::string> nameByType;  // type_info::name() -> registered name
};

Registry& registry() {
  static Registry instance;
  return instance;
}

void registerName(const std::string& name, const std::type_info& type, xc_Instantiator::Factory make) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.byName.emplace(name, make);
  r.byName.emplace(type.name(), make);
  r.nameByType.emplace(type.name(), name);
}

// Names are short; this bound only keeps a forged length from allocating.
constexpr std::uint32_t kMaxNameLength = 1024;

}  // namespace

bool xcPersistent::haveVisited(const void* object, std::size_t level) {
  const PassState& state = passState();
  return state.depth > 0 && state.visited.count({object, level}) != 0;
}

void xcPersistent::setVisited(const void* object, std::size_t level) {
  PassState& state = passState();
  if (state.depth > 0) state.visited.insert({object, level});
}

xcArchivePass::xcArchivePass() { ++passState().depth; }

xcArchivePass::~xcArchivePass() {
  PassState& state = passState();
  if (--state.depth == 0) state.visited.clear();
}

xc_Instantiator::xc_Instantiator(const std::type_info& type, Factory make) {
  registerName(type.name(), type, make);
}

xc_Instantiator::xc_Instantiator(const char* name, const std::type_info& type, Factory make) {
  registerName(name, type, make);
}

std::string xc_Instantiator::nameOf(const std::type_info& type) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  const auto it = r.nameByType.find(type.name());
  return it == r.nameByType.end() ? std::string() : it->second;
}

xcPersistent* xc_Instantiator::create(const std::string& name) {
  Factory make = nullptr;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    const auto it = r.byName.find(name);
    if (it != r.byName.end()) make = it->second;
  }
  return make != nullptr ? make() : nullptr;
}

xcArchive& operator||(xcArchive& ar, xcPersistent*& object) {
  xcArchivePass pass;
  std::string name;
  if (ar.isStoring() && object != nullptr) {
    name = xc_Instantiator::nameOf(typeid(*object));
    if (name.empty()) throw xcArchive::BadData(std::string("class not registered: ") + typeid(*object).name());
  }
  auto length = static_cast<std::uint32_t>(name.size());
  ar || length;
  if (ar.isLoading()) {
    if (length > kMaxNameLength) throw xcArchive::BadData("class name too long");
    name.resize(length);
  }
  ar.bytes(name.data(), name.size());
  if (ar.isStoring()) {
    if (object != nullptr) object->dispatchSerialize(ar);
    return ar;
  }
  if (name.empty()) {
    object = nullptr;
    return ar;
  }
  xcPersistent* loaded = xc_Instantiator::create(name);
  if (loaded == nullptr) throw xcArchive::BadData("class not registered: " + name);
  try {
    loaded->dispatchSerialize(ar);
  } catch (...) {
    delete loaded;
    throw;
  }
  object = loaded;
  return ar;
}
