#pragma once

#include "uInterfaces.h"

namespace kelvora {

// The outermost container layer of a stream.
enum TSignatureType : int {
    SIGNATURE_NO,
    SIGNATURE_SIGN,
    SIGNATURE_CRYPT,
    SIGNATURE_STAMP,
    SIGNATURE_TRASPORTABLE,
    SIGNATURE_PROTECTED
};

// Adds, recognises and strips the byte-level layers that wrap protected data.
// Every operation that produces data returns a new stream positioned at 0 and
// never changes the bytes of the stream it was given (it moves its position).
// Failures raise Exception with the layer's message.
class TTransportContainer {
public:
    static IStreamPtr SignHeaderAdd(const IStreamPtr& Stream);
    static IStreamPtr SignHeaderDel(const IStreamPtr& Stream);
    static IStreamPtr CryptHeaderAdd(const IStreamPtr& Stream);
    static IStreamPtr CryptHeaderDel(const IStreamPtr& Stream);
    static IStreamPtr StampHeaderDel(const IStreamPtr& Stream);
    static IStreamPtr ProtectedHeaderAdd(const IStreamPtr& Stream, uint8_t SignType);
    static IStreamPtr ProtectedHeaderDel(const IStreamPtr& Stream, uint8_t& SignType);
    static IStreamPtr TransportableHeaderAdd(const IStreamPtr& Stream, const QString& ClientName,
                                             const QString& EDRPOUCode, const QString& FileName, const QString& EMail,
                                             const QString& ProgramType, const QString& ProgramVersion);
    static IStreamPtr TransportableHeaderDel(const IStreamPtr& Stream);
    // False, leaving Values untouched, when the outermost layer is no transport header.
    static bool TransportableHeaderGet(const IStreamPtr& Stream, QStringList& Values);
    static TSignatureType GetSignature(const IStreamPtr& Stream);
    // Strips every layer but a QOR_PROTECTED one, which stops the stripping.
    static IStreamPtr DeleteSignature(const IStreamPtr& Stream);
};

} // namespace kelvora
