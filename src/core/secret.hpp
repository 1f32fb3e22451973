// A credential held in memory: its bytes are wiped when it is destroyed.
#pragma once

#include <openssl/crypto.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vemrat::core {

// Overwrites every byte a text owns, up to its capacity, where the compiler cannot drop it.
inline void wipe(std::string& text) noexcept { OPENSSL_cleanse(text.data(), text.capacity()); }

// Wipes a text that held key material when the scope ends, on every path.
class WipeOnExit {
public:
    explicit WipeOnExit(std::string& text) noexcept : text_(text) {}
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;
    ~WipeOnExit() { wipe(text_); }

private:
    std::string& text_;
};

// A fixed buffer for bytes derived from a key, wiped when it goes out of scope, on every path
// (an exception included).
template <std::size_t N>
struct WipedBytes : std::array<std::uint8_t, N> {
    WipedBytes() : std::array<std::uint8_t, N>{} {}
    WipedBytes(const WipedBytes&) = delete;
    WipedBytes& operator=(const WipedBytes&) = delete;
    ~WipedBytes() { OPENSSL_cleanse(this->data(), N); }
};

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
        core::wipe(text_);
        text_.clear();
    }
    std::string text_;
};

}  // namespace vemrat::core
