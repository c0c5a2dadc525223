#include "settings/secret_store.h"

#include "common/private_profile.h"
#include "common/program_folder.h"
#include "settings/account_settings.h"

#include <qt6keychain/keychain.h>

#include <QEventLoop>

namespace hm::settings {
namespace {

const QString kService = QStringLiteral("HayateMail");

// Every program folder is an account of its own, so its secrets carry its path.
QString keyringKey(const QString& name)
{
    return name + QLatin1Char('@') + programFolder();
}

// A job run to its end on a local event loop, so the windows keep drawing meanwhile.
void runToEnd(QKeychain::Job& job)
{
    job.setAutoDelete(false);
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.start();
    loop.exec();
}

QString keyringProblem(const QKeychain::Job& job, const QString& what)
{
    return QStringLiteral("デスクトップのキーリングで%1できませんでした。\n（%2）").arg(what, job.errorString());
}

class KeyringSecrets final : public SecretStore {
public:
    bool inKeyring() const override { return true; }

    QString read(const QString& name, QString* problem) override
    {
        QKeychain::ReadPasswordJob job(kService);
        job.setKey(keyringKey(name));
        runToEnd(job);
        if (job.error() == QKeychain::NoError)
            return job.textData();
        if (job.error() != QKeychain::EntryNotFound && problem)
            *problem = keyringProblem(job, QStringLiteral("秘密の情報を読むことが"));
        return {};
    }

    bool write(const QString& name, const QString& value, QString* problem) override
    {
        QKeychain::WritePasswordJob job(kService);
        job.setKey(keyringKey(name));
        job.setTextData(value);
        runToEnd(job);
        if (job.error() == QKeychain::NoError)
            return true;
        if (problem)
            *problem = keyringProblem(job, QStringLiteral("秘密の情報を保存"));
        return false;
    }

    bool remove(const QString& name, QString* problem) override
    {
        QKeychain::DeletePasswordJob job(kService);
        job.setKey(keyringKey(name));
        runToEnd(job);
        if (job.error() == QKeychain::NoError || job.error() == QKeychain::EntryNotFound)
            return true;
        if (problem)
            *problem = keyringProblem(job, QStringLiteral("秘密の情報を消去"));
        return false;
    }
};

class FileSecrets final : public SecretStore {
public:
    bool inKeyring() const override { return false; }

    QString read(const QString& name, QString* problem) override
    {
        return profile::read(dataPath(kAccountFile), kOwnSection, name, problem);
    }

    bool write(const QString& name, const QString& value, QString* problem) override
    {
        return profile::write(dataPath(kAccountFile), kOwnSection, name, value, true, problem);
    }

    bool remove(const QString& name, QString* problem) override
    {
        if (read(name, nullptr).isEmpty())
            return true;
        return write(name, QString(), problem);
    }
};

} // namespace

SecretStore& keyringSecrets()
{
    static KeyringSecrets store;
    return store;
}

SecretStore& fileSecrets()
{
    static FileSecrets store;
    return store;
}

SecretStore& accountSecrets(QString* why)
{
    static const QString missing = [] {
        // A name nobody writes: "not found" means a keyring answered.
        QKeychain::ReadPasswordJob probe(kService);
        probe.setKey(keyringKey(QStringLiteral("probe")));
        runToEnd(probe);
        const auto error = probe.error();
        if (error == QKeychain::NoError || error == QKeychain::EntryNotFound)
            return QString();
        return probe.errorString().isEmpty() ? QStringLiteral("Secret Service") : probe.errorString();
    }();
    if (why)
        *why = missing;
    return missing.isEmpty() ? keyringSecrets() : fileSecrets();
}

} // namespace hm::settings
