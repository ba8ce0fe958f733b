// The program's errors: exceptions that carry the message shown to the user (portable).
#pragma once

#include <stdexcept>
#include <string>

// Every error the program raises on purpose.
class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A registry operation failed on an open key.
class ERegistryException : public Exception {
 public:
  using Exception::Exception;
};

// A COM call failed; the message is the system's text for the result code.
class EOleSysError : public Exception {
 public:
  EOleSysError(const std::string& message, long errorCode)
      : Exception(message), FErrorCode(errorCode) {}
  // The failing HRESULT.
  long ErrorCode() const noexcept { return FErrorCode; }

 private:
  long FErrorCode;
};
