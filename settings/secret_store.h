#pragma once
#include <QString>

namespace hm::settings {

// A named secret of the account (a password, a sign-in token). Where the desktop has a keyring
// (a Secret Service) it is kept there; otherwise in the owner-only account file.
class SecretStore {
public:
    virtual ~SecretStore() = default;
    // True for the desktop keyring, false for the account file.
    virtual bool inKeyring() const = 0;
    // Empty when there is no such secret; problem says why when the store could not be read.
    virtual QString read(const QString& name, QString* problem = nullptr) = 0;
    virtual bool write(const QString& name, const QString& value, QString* problem = nullptr) = 0;
    // Removing a secret that is not there succeeds.
    virtual bool remove(const QString& name, QString* problem = nullptr) = 0;
};

// The desktop keyring, asked once per run whether it answers; a keyring that does not answer
// leaves the account file's store (why then says what the keyring answered).
SecretStore& accountSecrets(QString* why = nullptr);
// Each store by itself, for moving a secret from one to the other.
SecretStore& keyringSecrets();
SecretStore& fileSecrets();

} // namespace hm::settings
