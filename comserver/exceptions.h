// The frame's exception hierarchy. Every failure raised inside the module is
// an Exception; COM methods and exports turn it into an HRESULT themselves.
#pragma once

#include <windows.h>

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

class Exception : public std::exception {
public:
  explicit Exception(std::string message, int32_t helpContext = 0);
  const char* what() const noexcept override { return FMessage.c_str(); }
  const std::string& Message() const { return FMessage; }
  int32_t HelpContext() const { return FHelpContext; }

private:
  std::string FMessage;
  int32_t FHelpContext;
};

// Failures of the frame that have no HRESULT.
class EOleError : public Exception {
public:
  using Exception::Exception;
};

// A failing HRESULT. An empty message becomes the system's text for the code
// or, when the system has none, "OLE error " and the code as eight upper-case
// hexadecimal digits.
class EOleSysError : public EOleError {
public:
  EOleSysError(const std::string& message, HRESULT resultCode, int32_t helpContext = 0);
  HRESULT ResultCode;
};

// Raises EOleSysError for a failure code; S_OK, S_FALSE and other success
// codes pass.
void CheckOleResult(HRESULT result);

// What the COM methods and exports do with the exception being handled; for
// use inside a catch block only.

// Its message: an Exception's message, "Out of memory" for std::bad_alloc,
// and nothing for anything else.
std::optional<std::string> CurrentExceptionMessage();

// The HRESULT a COM method or export returns for it: `outOfMemory` for
// std::bad_alloc, `failure` for anything else. Where a method answers every
// failure alike, it passes the same code twice.
HRESULT CurrentExceptionResult(HRESULT failure, HRESULT outOfMemory = E_OUTOFMEMORY) noexcept;

// Shows "<where> <its message>" in a message box with no owner and caption
// "Error". Never throws.
void ShowCurrentException(const char* where, UINT style) noexcept;
