// The point matcher's vocabulary: its modes and its exception classes.
#pragma once

#include <cstdint>
#include <string>

#include <foundation/exception.h>

class xcArchive;

// A class used as a namespace for the point matcher's enumeration and exceptions.
class xcPointMatcherDefs {
 public:
  // How a tool was trained and how a result was produced. Value 0 has no meaning of its own.
  enum Mode : std::int32_t {
    ePointToPoint = 1,    // trained from model points, matched point to point (default of every mode field)
    ePointToGrid = 2,     // trained from an 8-bit grid pattern, matched against grid positions
    eExhaustiveMode = 3,  // trained from model points, run by the exhaustive search over pairings
    eAutoDetect = 4       // trained from model points, run by the voting search; reports ePointToPoint
  };

  // Base of the point matcher's exceptions; catch it to catch them all. The message is wide text and
  // usually ends in a newline.
  class Errors : public xcExceptionWithString {
   public:
    virtual std::int32_t errorNumber() const = 0;

   protected:
    explicit Errors(const std::wstring& message = std::wstring()) : xcExceptionWithString(message) {}
    Errors(const Errors&) = default;
    Errors& operator=(const Errors&) = default;

    // Archives the Errors level (a level byte 0) and the message below it, once per pass.
    void dispatchSerialize(xcArchive& ar) override;
    void serialize_(xcArchive& ar, unsigned char version);
  };

  // A parameter or argument out of its allowed range.
  class BadParams : public Errors {
   public:
    explicit BadParams(const std::wstring& message = std::wstring()) : Errors(message) {}
    std::int32_t errorNumber() const override { return 0x10005f00; }
    void suicideAndRethrow() override;

   protected:
    void dispatchSerialize(xcArchive& ar) override;
    void serialize_(xcArchive& ar, unsigned char version);
  };

  // An operation that needs a trained tool, or a tool trained in another mode.
  class NotTrained : public Errors {
   public:
    explicit NotTrained(const std::wstring& message = std::wstring()) : Errors(message) {}
    std::int32_t errorNumber() const override { return 0x10005f01; }
    void suicideAndRethrow() override;

   protected:
    void dispatchSerialize(xcArchive& ar) override;
    void serialize_(xcArchive& ar, unsigned char version);
  };

  // A result accessor that needs a result of another run mode.
  class NotRun : public Errors {
   public:
    explicit NotRun(const std::wstring& message = std::wstring()) : Errors(message) {}
    std::int32_t errorNumber() const override { return 0x10005f02; }
    void suicideAndRethrow() override;

   protected:
    void dispatchSerialize(xcArchive& ar) override;
    void serialize_(xcArchive& ar, unsigned char version);
  };

  // Training with fewer than 3 model points or set pattern pels.
  class InsufficientModelPoints : public Errors {
   public:
    explicit InsufficientModelPoints(const std::wstring& message = std::wstring()) : Errors(message) {}
    std::int32_t errorNumber() const override { return 0x10005f04; }
    void suicideAndRethrow() override;

   protected:
    void dispatchSerialize(xcArchive& ar) override;
    void serialize_(xcArchive& ar, unsigned char version);
  };
};

// Every program that includes this header links the translation unit that registers the exception classes
// for loading by name, even when it never names one of them itself (a static library would otherwise drop
// that unit and its registrations).
extern const int xc_PointMatcherDefsRegistered;
[[maybe_unused]] static const int* const xc_PointMatcherDefsAnchor = &xc_PointMatcherDefsRegistered;
