// A credential held in memory: its bytes are wiped when it is destroyed.
#pragma once

#include <openssl/crypto.h>

#include <string>
#include <string_view>

namespace vemrat {

class SecretText {
public:
    SecretText() = default;
    explicit SecretText(std::string_view text) : text_(text) {}
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;
    // Moving copies the bytes of a short text, so the source is wiped too.
    SecretText(SecretText&& other) noexcept : text_(std::move(other.text_)) { other.wipe(); }
    SecretText& operator=(SecretText&& other) noexcept {
        if (this != &other) {
            wipe();
            text_ = std::move(other.text_);
            other.wipe();
        }
        return *this;
    }
    ~SecretText() { wipe(); }

    std::string_view view() const noexcept { return text_; }

private:
    void wipe() noexcept {
        OPENSSL_cleanse(text_.data(), text_.capacity());
        text_.clear();
    }
    std::string text_;
};

}  // namespace vemrat
