// Exception bases of the foundation layer: every exception the library throws derives from xcException.
#pragma once

#include <exception>
#include <string>

#include <foundation/persistent.h>

// UTF-8 <-> wide text. Wide characters are taken as Unicode code points; invalid input is replaced by U+FFFD.
std::wstring xfWiden(const std::string& utf8);
std::string xfNarrow(const std::wstring& wide);

// Base of all exceptions of the library and its foundation layer.
class xcException : public std::exception {
 public:
  explicit xcException(std::string utf8Text = std::string()) : text_(std::move(utf8Text)) {}
  const char* what() const noexcept override { return text_.c_str(); }

  // For an object on the heap (for instance one loaded from an archive): copies itself, deletes the heap
  // object and throws the copy as its own most-derived class.
  virtual void suicideAndRethrow() = 0;

 protected:
  void setText_(std::string utf8Text) { text_ = std::move(utf8Text); }

 private:
  std::string text_;
};

// An exception that keeps a wide message and can be archived.
class xcExceptionWithString : public xcException, public xcPersistent {
 public:
  explicit xcExceptionWithString(const std::wstring& message = std::wstring());
  xcExceptionWithString(const xcExceptionWithString&) = default;
  xcExceptionWithString& operator=(const xcExceptionWithString&) = default;

  const std::wstring& message() const { return message_; }

 protected:
  // Archives this level: a level byte 0 and the message (a vector record of 32-bit code points).
  void dispatchSerialize(xcArchive& ar) override;

 private:
  std::wstring message_;
};

// Numerical failure in the foundation layer: a singular inverse, a fit the data cannot determine.
class xcMathError : public xcExceptionWithString {
 public:
  explicit xcMathError(const std::wstring& message = std::wstring()) : xcExceptionWithString(message) {}
  void suicideAndRethrow() override;
};
