// Fuzz target: a signature file through ParseSignatureFile and the manifest check. An accepted
// file must format back to the same lines, and no file may pass the check with a verifier that
// accepts nothing.

#include <string_view>

#include "core/manifest_signature.h"
#include "fuzz/fuzz_check.h"

namespace {

class RefusingVerifier final : public kestrivon::core::SignatureVerifier {
 public:
  bool Verify(const kestrivon::core::EcPoint&, std::string_view,
              const kestrivon::core::EcSignature&) const override {
    return false;
  }
};

}  // namespace

void kestrivon::fuzz::TestOneInput(std::string_view text) {
  const auto lines = core::ParseSignatureFile(text);
  if (lines) {
    Check(!lines->empty() && lines->size() <= core::maxSignatureLines, "line count out of range");
    const auto again = core::ParseSignatureFile(core::FormatSignatureFile(*lines));
    Check(again.has_value() && again->size() == lines->size(), "formatted file reads otherwise");
    for (size_t at = 0; again && at < lines->size(); ++at) {
      Check((*again)[at].keyId == (*lines)[at].keyId &&
                (*again)[at].signature == (*lines)[at].signature,
            "formatted line reads otherwise");
    }
  } else {
    Check(!lines.error().empty(), "refusal without a reason");
  }

  // The key of the first line, if any, is built in: only the verifier can accept it.
  core::EcPoint key{};
  const core::EcPoint keys[] = {key};
  const RefusingVerifier verifier;
  const auto checked = core::CheckManifestSignature("{}", text, {keys, &verifier});
  Check(!checked && !checked.error().empty(), "accepted a signature no verifier accepted");
}
