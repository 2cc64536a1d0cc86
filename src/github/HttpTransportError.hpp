#pragma once
// HttpTransportError: why an HTTP exchange produced no response. Its description is the case name with
// libcurl's result code, such as "timedOut(code: 28)"; it never carries a body, a header or an address.
#include <stdexcept>

namespace pelko {

class HttpTransportError : public std::runtime_error {
  public:
    enum class Code { invalidURL, cannotConnect, timedOut, responseTooLarge, failed };

    HttpTransportError(Code code, int curlCode);
    Code code() const { return code_; }
    int curlCode() const { return curlCode_; }

  private:
    Code code_;
    int curlCode_;
};

}  // namespace pelko
