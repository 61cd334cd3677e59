#pragma once

// The fixed numbers of the ZIP format (APPNOTE 6.3) that both the reader and the release
// packer use: record signatures and sizes, the ZIP64 extra field and the two methods.

#include <cstddef>
#include <cstdint>

namespace kestrivon::archive::zip {

inline constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
inline constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
inline constexpr uint32_t kEndSignature = 0x06054b50;
inline constexpr uint32_t kZip64EndSignature = 0x06064b50;
inline constexpr uint32_t kZip64LocatorSignature = 0x07064b50;

inline constexpr size_t kLocalHeaderSize = 30;
inline constexpr size_t kCentralHeaderSize = 46;
inline constexpr size_t kEndSize = 22;
inline constexpr size_t kZip64EndSize = 56;
inline constexpr size_t kZip64LocatorSize = 20;

inline constexpr uint16_t kZip64ExtraId = 0x0001;
inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodDeflate = 8;

}  // namespace kestrivon::archive::zip
