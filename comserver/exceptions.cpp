#include "exceptions.h"

#include "message_box.h"

#include <cstdint>
#include <new>

Exception::Exception(std::string message, int32_t helpContext)
    : FMessage(std::move(message)), FHelpContext(helpContext) {}

namespace {

// The system's text for the code without its closing full stop and line
// break; empty when the system has none.
std::string SystemMessage(HRESULT code) {
  char buffer[256];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY, nullptr,
                                static_cast<DWORD>(code), 0, buffer, sizeof buffer, nullptr);
  if (length > sizeof buffer)
    length = 0;
  while (length > 0) {
    unsigned char last = static_cast<unsigned char>(buffer[length - 1]);
    if (last >= 0x21 && last != '.')
      break;
    --length;
  }
  return std::string(buffer, length);
}

std::string OleSysErrorMessage(const std::string& message, HRESULT code) {
  if (!message.empty())
    return message;
  std::string text = SystemMessage(code);
  if (!text.empty())
    return text;
  // "OLE error %.8X": eight upper-case hexadecimal digits.
  static const char digits[] = "0123456789ABCDEF";
  std::string fallback = "OLE error ";
  const auto bits = static_cast<uint32_t>(code);
  for (int shift = 28; shift >= 0; shift -= 4)
    fallback += digits[(bits >> shift) & 0xF];
  return fallback;
}

} // namespace

EOleSysError::EOleSysError(const std::string& message, HRESULT resultCode, int32_t helpContext)
    : EOleError(OleSysErrorMessage(message, resultCode), helpContext), ResultCode(resultCode) {}

void CheckOleResult(HRESULT result) {
  if (FAILED(result))
    throw EOleSysError(std::string(), result);
}

std::optional<std::string> CurrentExceptionMessage() {
  std::exception_ptr current = std::current_exception();
  if (!current)
    return std::nullopt;
  try {
    std::rethrow_exception(current);
  } catch (const Exception& e) {
    return e.Message();
  } catch (const std::bad_alloc&) {
    return std::string("Out of memory");
  } catch (...) {
    return std::nullopt;
  }
}

HRESULT CurrentExceptionResult(HRESULT failure, HRESULT outOfMemory) noexcept {
  if (!std::current_exception())
    return failure;
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return outOfMemory;
  } catch (...) {
    return failure;
  }
}

void ShowCurrentException(const char* where, UINT style) noexcept {
  try {
    std::string text = where;
    text += ' ';
    text += CurrentExceptionMessage().value_or(std::string());
    ShowMessageBox(nullptr, text, "Error", style);
  } catch (...) {
    // Nothing left to report with.
  }
}
