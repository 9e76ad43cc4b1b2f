// Storing any archivable library object to Python bytes and loading it back, and the methods that expose
// this on a bound class: to_bytes(), the static from_bytes(data), and pickling (hence copy.deepcopy).
#pragma once

#include <sstream>
#include <string>

#include <pybind11/pybind11.h>

#include <foundation/archive.h>

namespace py = pybind11;

namespace ptmatch_py {

template <class T>
py::bytes storeToBytes(T& value) {
  std::ostringstream out;
  xcArchive ar(out);
  ar || value;
  return py::bytes(out.str());
}

// Loads one whole record. Bytes left over mean the record was of another class or was damaged, which a
// loader that stopped at its own end would silently accept.
template <class T>
void loadFromBytes(const py::bytes& data, T& value) {
  std::istringstream in(static_cast<std::string>(data));
  xcArchive ar(in);
  ar || value;
  in.peek();
  if (!in.eof()) {
    const auto left = static_cast<std::string>(data).size() - static_cast<std::size_t>(in.tellg());
    throw xcArchive::BadData(std::to_string(left) + " bytes left after the record");
  }
}

// Adds to_bytes, from_bytes and pickling to a bound class whose C++ type T archives itself.
template <class T, class Class>
void addArchiving(Class& cls) {
  cls.def(
      "to_bytes", [](T& self) { return storeToBytes(self); },
      "The object as the library's binary archive record (little-endian, the same on every host).");
  cls.def_static(
      "from_bytes",
      [](const py::bytes& data) {
        T value;
        loadFromBytes(data, value);
        return value;
      },
      py::arg("data"), "Loads an object from bytes made by to_bytes; raises ptmatch.ArchiveError subclasses.");
  cls.def(py::pickle([](T& self) { return py::make_tuple(storeToBytes(self)); },
                     [](const py::tuple& state) {
                       T value;
                       loadFromBytes(state[0].cast<py::bytes>(), value);
                       return value;
                     }));
}

}  // namespace ptmatch_py
