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

// Adds to_bytes, from_bytes and pickling to a bound class Holder whose archived C++ object is access(holder)
// (the holder itself, or the tool inside a wrapper that carries binding state beside it).
template <class Holder, class Class, class Access>
void addArchiving(Class& cls, Access access) {
  cls.def(
      "to_bytes", [access](Holder& self) { return storeToBytes(access(self)); },
      "The object as the library's binary archive record (little-endian, the same on every host).");
  cls.def_static(
      "from_bytes",
      [access](const py::bytes& data) {
        Holder value;
        loadFromBytes(data, access(value));
        return value;
      },
      py::arg("data"),
      "Loads an object from bytes made by to_bytes; raises ptmatch.ArchiveError subclasses.");
  cls.def(py::pickle([access](Holder& self) { return py::make_tuple(storeToBytes(access(self))); },
                     [access](const py::tuple& state) {
                       Holder value;
                       loadFromBytes(state[0].cast<py::bytes>(), access(value));
                       return value;
                     }));
}

template <class T, class Class>
void addArchiving(Class& cls) {
  addArchiving<T>(cls, [](T& value) -> T& { return value; });
}

}  // namespace ptmatch_py
