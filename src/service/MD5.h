#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// MD5 message digest (RFC 1321). Taking the digest does not end the message: further updates continue it, and a
// later digest covers every byte fed since the last reset.
class MD5
{
public:
    MD5();

    void reset();
    void update(const void* input, size_t length);
    void update(const std::string& text);

    // The 16 digest bytes of everything fed so far.
    const uint8_t* digest();
    // The digest as 32 lowercase hexadecimal digits.
    std::string toString();

private:
    void transform(const uint8_t block[64]);
    void finalise();

    uint32_t m_state[4];
    uint32_t m_count[2];
    uint8_t m_buffer[64];
    uint8_t m_digest[16];
    bool m_finished;

    static const uint8_t PADDING[64];
    static const char HEX[16];
};
