#pragma once

// The four operations on CMS (RFC 5652) messages in DER: SignedData with the
// content attached, the signer's certificate included and SHA-256;
// EnvelopedData with AES-256-CBC and RSA key transport, carrying the
// sender's certificate in its originatorInfo.

#include "Pfcp2Text.h"

#include <QByteArray>
#include <ctime>
#include <openssl/evp.h>
#include <openssl/x509.h>

namespace pfcp2 {

class TStore;

// A result in a buffer to hand to the caller (NewBuffer); FreeBuffer releases it.
struct TOutput {
    uint8_t* Data = nullptr;
    int32_t Size = 0;
};

bool SignData(const unsigned char* In, int Size, EVP_PKEY* Key, X509* Cert, TOutput& Out, TError& Error);
// Sender may be null: the message then names no sender.
bool EncryptData(const unsigned char* In, int Size, X509* Recipient, X509* Sender, TOutput& Out, TError& Error);

struct TOpened {
    TOutput Content;
    X509* Cert = nullptr; // signer or sender, owned by the caller; null when none is named
    bool TimeAvail = false;
    time_t Time = 0;
};
// Releases the certificate and, unless handed on, the content.
void FreeOpened(TOpened& Opened);

// Opens EnvelopedData addressed to Cert with its Key.
bool DecryptData(const unsigned char* In, int Size, EVP_PKEY* Key, X509* Cert, TOpened& Opened, TError& Error);
// Checks every signature of SignedData and every signer's certificate
// against the store, now.
bool VerifyData(const unsigned char* In, int Size, const TStore& Store, TOpened& Opened, TError& Error);

} // namespace pfcp2
