#pragma once

// ECDSA P-256/SHA-256 vectors made once with OpenSSL (the private keys were discarded), shared
// by the native verifier's test and the Windows one's, so that both libraries agree.

#include <string_view>

namespace kestrivon::testing {

struct EcdsaVector {
  const char* name;
  std::string_view key;        // X||Y, hex
  std::string_view signature;  // r||s, hex
  std::string_view message;
  bool valid;
};

inline constexpr std::string_view kKeyA =
    "13f3f45247871a174b27cc0c1cb66557d8a60de3140956c4c6296e9f273e72946907c7b239f50314ed60224ef1f337"
    "de3583eeb717096af45e0e622bb20a6d94";
inline constexpr std::string_view kKeyB =
    "78c77921289d7461e66c83aa0daa090236a33ca56b3c0f109855b97e326f457b55144589654089bfad00b45c966632"
    "c15d2dfd336e9ed831b9100342c2602578";

inline constexpr std::string_view kSignedText = R"({"serial":7,"win":{}}
)";
inline constexpr std::string_view kChangedText = R"({"serial":8,"win":{}}
)";
inline constexpr std::string_view kEmptyText = "";

inline constexpr EcdsaVector kEcdsaVectors[] = {
    {"signed message", kKeyA,
     "745d2bcabe43857926432a7d2445c73c1f324f75cbb265299a2471320e938968100a4055f535c7b630acd8494b0a1"
     "eab51493b32ed07a8fe31e4126bf8bd470f",
     kSignedText, true},
    {"empty message", kKeyA,
     "50b95d2f753d7e925c91aab400a4727b48bab56a280b9b3c41fe3c56625dddc94f4d0c9b7ba2053325c90e75cec20"
     "17b59c70d7c981f5875527ffda8e3da6e6c",
     kEmptyText, true},
    {"s replaced by n - s", kKeyA,
     "745d2bcabe43857926432a7d2445c73c1f324f75cbb265299a2471320e938968eff5bfa90aca384acf5327b6b4f5e"
     "1546b9dbf7aba0ff586c1d5b85703a5de42",
     kSignedText, true},
    {"second key, own signature", kKeyB,
     "9855f9dbb88a534ea211df3b31ccef5702048c4e838af607db550c4fbc2c039973aaecec0a809170b009a7959eec1"
     "1fd720c045f0e5f41d3f9a2925599651ed8",
     kSignedText, true},
    {"one message byte changed", kKeyA,
     "745d2bcabe43857926432a7d2445c73c1f324f75cbb265299a2471320e938968100a4055f535c7b630acd8494b0a1"
     "eab51493b32ed07a8fe31e4126bf8bd470f",
     kChangedText, false},
    {"one signature bit changed", kKeyA,
     "745d2bcabe43857926432a7d2445c73c1f324f75cbb265299a2471320e938968100a4055f535c7b630acd8494b0a1"
     "eab51493b32ed07a8fe31e4126bf8bd470e",
     kSignedText, false},
    {"signature by the other key", kKeyB,
     "745d2bcabe43857926432a7d2445c73c1f324f75cbb265299a2471320e938968100a4055f535c7b630acd8494b0a1"
     "eab51493b32ed07a8fe31e4126bf8bd470f",
     kSignedText, false},
    {"r and s swapped", kKeyA,
     "100a4055f535c7b630acd8494b0a1eab51493b32ed07a8fe31e4126bf8bd470f745d2bcabe43857926432a7d2445c"
     "73c1f324f75cbb265299a2471320e938968",
     kSignedText, false},
    {"r zero", kKeyA,
     "0000000000000000000000000000000000000000000000000000000000000000100a4055f535c7b630acd8494b0a1"
     "eab51493b32ed07a8fe31e4126bf8bd470f",
     kSignedText, false},
    {"s equal to n", kKeyA,
     "745d2bcabe43857926432a7d2445c73c1f324f75cbb265299a2471320e938968ffffffff00000000fffffffffffff"
     "fffbce6faada7179e84f3b9cac2fc632551",
     kSignedText, false},
    {"all ones", kKeyA,
     "fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
     "fffffffffffffffffffffffffffffffffff",
     kSignedText, false},
    {"key off the curve",
     "13f3f45247871a174b27cc0c1cb66557d8a60de3140956c4c6296e9f273e72946907c7b239f50314ed60224ef1f33"
     "7de3583eeb717096af45e0e622bb20a6d95",
     "745d2bcabe43857926432a7d2445c73c1f324f75cbb265299a2471320e938968100a4055f535c7b630acd8494b0a1"
     "eab51493b32ed07a8fe31e4126bf8bd470f",
     kSignedText, false},
    {"key all zero",
     "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
     "00000000000000000000000000000000000",
     "745d2bcabe43857926432a7d2445c73c1f324f75cbb265299a2471320e938968100a4055f535c7b630acd8494b0a1"
     "eab51493b32ed07a8fe31e4126bf8bd470f",
     kSignedText, false},
};

}  // namespace kestrivon::testing
