#pragma once

#include "uInterfaces.h"

#include <QByteArray>

namespace kelvora {

// ICryptoManager over the crypto library of uCrypto. Making one loads (when
// needed) and initialises the library, raising ECryptoError on failure;
// destroying it finalises and unloads the library.
class TCryptoManager : public ICryptoManager {
public:
    TCryptoManager();
    ~TCryptoManager() override;
    TCryptoManager(const TCryptoManager&) = delete;
    TCryptoManager& operator=(const TCryptoManager&) = delete;

    QString GetLastError() override;
    int32_t GetLastErrorCode() override;
    bool ReadPrivateKey(const QString& Caption) override;
    bool ReadPrivateKeyInfo(TCertOwnerInfo& Info, const QString& Caption) override;
    IStreamPtr Encrypt(const QString& Recipient, const IStreamPtr& Data) override;
    IStreamPtr Decrypt(const IStreamPtr& Data, const IStreamPtr& Certificate) override;
    IStreamPtr DecryptInfo(const IStreamPtr& Data, TProtectDataInfo& Info, const IStreamPtr& Certificate) override;
    IStreamPtr Sign(const IStreamPtr& Data) override;
    IStreamPtr Verify(const IStreamPtr& Data, IStreamPtr& SignerCertificate) override;
    IStreamPtr VerifyInfo(const IStreamPtr& Data, TProtectDataInfo& Info, IStreamPtr& SignerCertificate) override;
    IStreamPtr Verify(const IStreamPtr& Data) override;
    IStreamPtr VerifyInfo(const IStreamPtr& Data, TProtectDataInfo& Info) override;
    int32_t ShowCertificates() override;
    int32_t ShowCRLs() override;
    int32_t SetSettings() override;
    void SelectGatewayCert(QString& Code, QString& Name) override;
    bool FindGatewayCert(const QString& Code, TCertOwnerInfo& Info) override;
    QString GetFileStorePath() override;

private:
    void SetLastError(const char* Text, int32_t Code);
    // One PFProtectData call. Info and SignerCertificate are for decrypt and
    // verify; either may be null.
    IStreamPtr Protect(int32_t Operation, const IStreamPtr& Data, const QByteArray& Recipient, TProtectDataInfo* Info,
                       IStreamPtr* SignerCertificate);

    QString FLastError;
    int32_t FLastErrorCode = 0;
};

// The crypto library's settings file, where its file-store folder is kept.
QString CryptoSettingsFilePath();

} // namespace kelvora
