// Texts of the crypto utility codes.
#include <cstdint>

#include "qvcert.h"

namespace {

struct CodeText {
  uint32_t code;
  const char* text;
};

const CodeText kTexts[] = {
    {0, "Success"},
    {1, "Internal Md5 error"},
    {2, "Bad MD5 Input length"},
    {3, "Md5 function out of memory"},
    {19001, "certifificate function out of memory"},
    {19002, "Passed in key is of unexpected or incorrect format"},
    {19003, "Could not generate random number object"},
    {19004, "File not found"},
    {19005, "An input length is invalid"},
    {19006, "CA Public key in unrecognizable format"},
    {19007, "Verification failed on certificate"},
    {19008, "Signing key is bad"},
    {19009, "Key passed in to sign is bad"},
    {19010, "An internal error occured while generating a certificate"},
    {19011, "Unable to extract certificate fields from passed in certificate"},
    {19012, "Allocate more memory for certificate data"},
    {19013, "Unable to set name in certificate"},
    {19014, "Input certificate request has a bad format"},
    {19015, "Unable to set certificate fields into new certificate"},
    {19016, "An error occurred signing certificate"},
    {19017, "Bad input subject name"},
    {19018, "Bad input CA name"},
    {19019, "QVI Extension not found in certificate"},
    {19020, "Unable to set fields into new certificate request."},
    {19021, "An error occurred signing certificate request"},
    {19201, "Bad encryption type."},
    {19202, "Encryption function out of memory"},
    {19203, "An internal error occurred during encryption"},
    {19204, "An internal error occurred during decryption"},
    {19205, "Invalid DES block length"},
    {19206, "Invalid key length"},
    {19207, "Decrypted data failed its integrity check"},
    {19208, "Invalid DER format for RSA key"},
    {19209, "Invalid input length"},
    {19210, "Invalid max output length"},
    {19401, "Bad buffer length"},
    {19402, "Internal random number error"},
    {19501, "Bad input key size"},
    {19502, "Invalid key data"},
    {19503, "RSA key function out of memory"},
    {19504, "Internal RSA key error"},
    {19505, "Invalid key type parameter"},
    {19506, "Allocate more memory for key data"},
};

}  // namespace

extern "C" const char* pszQVCryptoMsgToString(uint32_t code) {
  for (const auto& t : kTexts)
    if (t.code == code) return t.text;
  return "Unknown error";
}
