// Library exceptions as Python exceptions: a base class ptmatch.Error with one subclass per library
// exception class, in the library's hierarchy, each also deriving from the built-in exception a Python
// caller would expect (a refused parameter is a ValueError, a singular system an ArithmeticError), so that
// generic handlers keep working. Messages are the library's, without the trailing newline many carry.
#include <cstdint>
#include <exception>
#include <new>
#include <string>

#include <ptmatch/ptmatch.h>

#include "../../tools/ptmatch/conventions.h"
#include "bindings.h"
#include "exceptions.h"

namespace ptmatch_py {
namespace {

// Classes live as long as the interpreter; the module dict keeps a reference, these are borrowed.
struct Classes {
  PyObject* error;
  PyObject* mathError;
  PyObject* pelBufferError;
  PyObject* fitError;
  PyObject* stopRequested;
  PyObject* timeLimitExpired;
  PyObject* badLimit;
  PyObject* archiveError;
  PyObject* unknownVersion;
  PyObject* endOfData;
  PyObject* badData;
  PyObject* writeFailed;
  PyObject* pointMatcherError;
  PyObject* badParams;
  PyObject* notTrained;
  PyObject* notRun;
  PyObject* insufficientModelPoints;
  PyObject* gridCorresponderError;
  PyObject* gridInsufficientModelPoints;
  PyObject* insufficientMemory;
  PyObject* notSquareMatrix;
  PyObject* singularMatrix;
  PyObject* badArgs;
};
Classes classes{};

PyObject* define(py::module_& m, const char* name, std::initializer_list<PyObject*> bases, const char* doc) {
  py::tuple baseTuple(bases.size());
  std::size_t i = 0;
  for (PyObject* base : bases) baseTuple[i++] = py::reinterpret_borrow<py::object>(base);
  const std::string qualified = std::string("ptmatch.") + name;
  PyObject* cls = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, baseTuple.ptr(), nullptr);
  if (!cls) throw py::error_already_set();
  m.add_object(name, py::reinterpret_steal<py::object>(cls));
  return cls;
}

// The library's message in the words the ptmatch tool uses too: no class or mode names.
std::string trimmed(const std::string& text) { return ptmatch_conventions::userMessage(text); }

// Raises an instance of cls with the message and the given attributes.
void raise(PyObject* cls, const std::string& message,
           std::initializer_list<std::pair<const char*, py::object>> attrs) {
  py::object instance = py::reinterpret_borrow<py::object>(cls)(trimmed(message));
  for (const auto& [key, value] : attrs) instance.attr(key) = value;
  PyErr_SetObject(cls, instance.ptr());
}

void raiseWithNumber(PyObject* cls, const xcExceptionWithString& e, std::int32_t errorNumber) {
  raise(cls, xfNarrow(e.message()), {{"error_number", py::int_(errorNumber)}});
}

void translatePointMatcher(const xcPointMatcherDefs::Errors& e) {
  PyObject* cls = classes.pointMatcherError;
  if (dynamic_cast<const xcPointMatcherDefs::BadParams*>(&e)) cls = classes.badParams;
  if (dynamic_cast<const xcPointMatcherDefs::NotTrained*>(&e)) cls = classes.notTrained;
  if (dynamic_cast<const xcPointMatcherDefs::NotRun*>(&e)) cls = classes.notRun;
  if (dynamic_cast<const xcPointMatcherDefs::InsufficientModelPoints*>(&e))
    cls = classes.insufficientModelPoints;
  raiseWithNumber(cls, e, e.errorNumber());
}

void translateGrid(const xc_PointToGridCorresponderDefs::Errors& e) {
  PyObject* cls = classes.gridCorresponderError;
  if (dynamic_cast<const xc_PointToGridCorresponderDefs::InsufficientModelPoints*>(&e))
    cls = classes.gridInsufficientModelPoints;
  if (dynamic_cast<const xc_PointToGridCorresponderDefs::InsufficientMemory*>(&e))
    cls = classes.insufficientMemory;
  raiseWithNumber(cls, e, e.errorNumber());
}

void translateArchive(const xcArchive::Errors& e) {
  PyObject* cls = classes.archiveError;
  if (dynamic_cast<const xcArchive::UnknownVersion*>(&e)) cls = classes.unknownVersion;
  if (dynamic_cast<const xcArchive::EndOfData*>(&e)) cls = classes.endOfData;
  if (dynamic_cast<const xcArchive::BadData*>(&e)) cls = classes.badData;
  if (dynamic_cast<const xcArchive::WriteFailed*>(&e)) cls = classes.writeFailed;
  raise(cls, e.what(), {});
}

void translateStop(const xcStopRequested& e) {
  PyObject* cls =
      e.status() == xcAttentionDefs::eTimeExpired ? classes.timeLimitExpired : classes.stopRequested;
  raise(cls, e.what(), {{"status", py::int_(e.status())}});
}

// The order of the handlers matters: every class is caught before its bases.
void translate(std::exception_ptr p) {
  try {
    std::rethrow_exception(p);
  } catch (const xcPointMatcherDefs::Errors& e) {
    translatePointMatcher(e);
  } catch (const xc_PointToGridCorresponderDefs::Errors& e) {
    translateGrid(e);
  } catch (const xcLSPointToPointFitter::Errors& e) {
    raise(classes.fitError, xfNarrow(e.message()), {});
  } catch (const xcMathError& e) {
    raise(classes.mathError, xfNarrow(e.message()), {});
  } catch (const xcArchive::Errors& e) {
    translateArchive(e);
  } catch (const xcStopRequested& e) {
    translateStop(e);
  } catch (const xcAttentionScope::BadLimit& e) {
    raise(classes.badLimit, e.what(), {});
  } catch (const xcPelBufferError& e) {
    raise(classes.pelBufferError, e.what(), {});
  } catch (const xcExceptionWithString& e) {
    raise(classes.error, xfNarrow(e.message()), {});
  } catch (const xcException& e) {
    raise(classes.error, e.what(), {});
  } catch (const xcMatrixExt::NotSquareMatrix&) {
    raise(classes.notSquareMatrix, "the matrix is not square", {});
  } catch (const xcMatrixExt::SingularMatrix&) {
    raise(classes.singularMatrix, "the matrix is singular: the data do not determine every parameter", {});
  } catch (const xc2PtMatchTm::BadArgs&) {
    raise(classes.badArgs, "the point lists differ in length", {});
  } catch (const xc2PTm::BadArgs&) {
    raise(classes.badArgs, "the point lists differ in length", {});
  } catch (const xc3PtMatchTm::BadArgs&) {
    raise(classes.badArgs, "the point lists differ in length", {});
  }
}

void defineFoundationClasses(py::module_& m) {
  classes.error = define(m, "Error", {PyExc_Exception}, "Base of every exception the library raises.");
  classes.mathError =
      define(m, "MathError", {classes.error, PyExc_ArithmeticError},
             "A numerical failure: a singular inverse, a result that does not fit in doubles.");
  classes.pelBufferError = define(m, "PelBufferError", {classes.error, PyExc_ValueError},
                                  "A refused image size, window or coordinate.");
  classes.fitError = define(m, "FitError", {classes.error, PyExc_ValueError},
                            "Point pairs that cannot determine the asked transform (too few, coincident, "
                            "collinear, non-finite).");
  classes.stopRequested =
      define(m, "StopRequested", {classes.error}, "A search ended by its stop request; `status` tells why.");
  classes.timeLimitExpired = define(m, "TimeLimitExpired", {classes.stopRequested, PyExc_TimeoutError},
                                    "A search ended because its time limit passed.");
  classes.badLimit = define(m, "BadLimit", {classes.error, PyExc_ValueError}, "A NaN time limit.");
  classes.archiveError = define(m, "ArchiveError", {classes.error}, "Base of the archive's failures.");
  classes.unknownVersion = define(m, "UnknownVersion", {classes.archiveError},
                                  "A record whose version the reading class does not accept.");
  classes.endOfData = define(m, "EndOfData", {classes.archiveError, PyExc_EOFError},
                             "The bytes ended before the record did.");
  classes.badData = define(m, "BadData", {classes.archiveError, PyExc_ValueError},
                           "A value that no valid record can hold.");
  classes.writeFailed = define(m, "WriteFailed", {classes.archiveError}, "The output refused the bytes.");
}

void defineToolClasses(py::module_& m) {
  classes.pointMatcherError =
      define(m, "PointMatcherError", {classes.error}, "Base of the point matcher's exceptions.");
  classes.badParams = define(m, "BadParams", {classes.pointMatcherError, PyExc_ValueError},
                             "A parameter or argument out of its allowed range.");
  classes.notTrained = define(m, "NotTrained", {classes.pointMatcherError},
                              "An operation that needs a trained tool, or one trained in another mode.");
  classes.notRun = define(m, "NotRun", {classes.pointMatcherError},
                          "A result accessor that needs a result of another run mode.");
  classes.insufficientModelPoints =
      define(m, "InsufficientModelPoints", {classes.pointMatcherError, PyExc_ValueError},
             "Training with fewer than 3 model points or set pattern pels.");
  classes.gridCorresponderError =
      define(m, "GridCorresponderError", {classes.error}, "Base of the grid corresponder's exceptions.");
  classes.gridInsufficientModelPoints =
      define(m, "GridInsufficientModelPoints", {classes.gridCorresponderError, PyExc_ValueError},
             "Grid corresponder training without enough cells.");
  classes.insufficientMemory =
      define(m, "InsufficientMemory", {classes.gridCorresponderError, PyExc_MemoryError},
             "A pattern or data box with more cells than the grid corresponder allows.");
  classes.notSquareMatrix = define(m, "NotSquareMatrix", {classes.error, PyExc_ValueError},
                                   "A solver called on a matrix with rows != columns.");
  classes.singularMatrix = define(m, "SingularMatrix", {classes.error, PyExc_ArithmeticError},
                                  "A singular system: the data do not determine every parameter.");
  classes.badArgs =
      define(m, "BadArgs", {classes.error, PyExc_ValueError}, "Point lists of different lengths.");
}

}  // namespace

void rethrowForScene(std::exception_ptr failure, std::size_t scene) {
  translate(failure);  // sets the Python error, or rethrows what no translator here knows
  py::error_already_set error;
  py::object value = error.value();
  value.attr("scene") = scene;
  if (py::hasattr(value, "add_note"))
    value.attr("add_note")("raised by scenes[" + std::to_string(scene) + "]");
  throw error;
}

void bindExceptions(py::module_& m) {
  defineFoundationClasses(m);
  defineToolClasses(m);
  py::register_exception_translator(&translate);
}

}  // namespace ptmatch_py
