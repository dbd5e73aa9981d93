// Received messages come from anybody: parsing one must never crash.

#include "uInterfaces.h"
#include "uMailMessageImpl.h"
#include "uStreamImpl.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const QByteArray Raw(reinterpret_cast<const char*>(Data), static_cast<qsizetype>(Size));
    const kelvora::IMailMessagePtr Message = kelvora::TMailMessage::Create(Raw);
    (void)Message->GetSubject();
    (void)Message->GetBodyText();
    const kelvora::IEnumeratorPtr Attachments = Message->GetAttachments();
    for (int32_t I = 0; I < Attachments->Count(); ++I) {
        const auto Attachment = Attachments->ItemAs<kelvora::IMailAttachment>(I);
        const kelvora::IStreamPtr Stream = kelvora::StreamOf(QByteArray());
        Attachment->SaveToStream(Stream);
        if (Stream->GetSize() != (Attachment->GetSize() ? Attachment->GetSize() : 0))
            __builtin_trap();
    }
    // The receiver reads the sender from the raw header block.
    (void)kelvora::DecodeHeaderText(kelvora::RawHeaderValue(Raw, "From"));
    return 0;
}
