#pragma once
// A sink that takes bytes into a SHA-256 digest without keeping them: the checksum manifest reads
// copied files back through it, and the volume report digests forks through it.

#include <openssl/evp.h>

#include <memory>
#include <string>

#include "volume/byte_sink.h"

namespace quarry {

class Sha256Sink : public ByteSink {
public:
    Sha256Sink();
    bool write(const uint8_t* data, size_t length) override;
    std::string error() const override { return error_; }
    // The digest in lower-case hex, as sha256sum prints it; empty after a failure. Ends the
    // digest: nothing may be written after it.
    std::string hex();

private:
    struct Free {
        void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> context_;
    std::string error_;
};

}  // namespace quarry
