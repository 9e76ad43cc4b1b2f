// Loads every archived class of the library from arbitrary bytes. The first byte picks the class; the
// rest is the record. A load may only end normally or by an xcException; what loaded must store again, and
// a point matcher that loaded must run on a small scene within a time limit and give results that hold
// together (libFuzzer's memory limits catch a run that allocates without bound).
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include <ptmatch/ptmatch.h>

#include "fuzz_tools.h"

namespace {

// Loads `object` from `bytes`, then stores what it got, which must not fail. Works for the classes
// themselves and for xcPersistent*, which loads whatever registered class the record names.
template <class T>
void loadThenStore(const std::string& bytes, T& object) {
  try {
    std::istringstream in(bytes);
    xcArchive loader(in);
    loader || object;
  } catch (const xcException&) {
    return;
  }
  std::ostringstream out;
  xcArchive storer(out);
  storer || object;
}

template <class T>
void loadAndStore(const std::string& bytes) {
  T object;
  loadThenStore(bytes, object);
}

// Long enough for a sound tool's run on the scene, short enough for many executions a second.
constexpr double kRunSeconds = 0.05;

void loadStoreAndRun(const std::string& bytes) {
  xcPointMatcher tool;
  loadThenStore(bytes, tool);
  if (!ptmatch_fuzz::runsSoundly(tool, kRunSeconds)) __builtin_trap();
}

// Any registered persistent class (the exceptions among them), through the pointer path.
void loadPersistentAndStore(const std::string& bytes) {
  xcPersistent* object = nullptr;
  loadThenStore(bytes, object);
  delete object;
}

using Loader = void (*)(const std::string&);

constexpr Loader kLoaders[] = {
    loadStoreAndRun,
    loadAndStore<xcPointMatcherRunParams>,
    loadAndStore<xcPointMatcherResultSet>,
    loadAndStore<xc_PointToGridCorresponder>,
    loadAndStore<xc_PointToGridCorresponderTrainParams>,
    loadAndStore<xc_PointToGridCorresponderRunParams>,
    loadAndStore<xc_PointToGridCorresponderResultSet>,
    loadAndStore<xcPtToGridMapRunParams>,
    loadAndStore<xcPtToGridMapResult>,
    loadAndStore<xc2PtMatchTm>,
    loadAndStore<xc2PTm>,
    loadAndStore<xc3PtMatchTm>,
    loadAndStore<xcPsuedoInverse>,
    loadAndStore<xcPelBuffer<std::uint8_t>>,
    loadPersistentAndStore,
    loadAndStore<xcGridIndexer>,
    loadAndStore<xcGridIndexerResult>,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t which = data[0] % (sizeof kLoaders / sizeof kLoaders[0]);
  kLoaders[which](std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  return 0;
}
