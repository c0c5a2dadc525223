#include "app/check_mail.h"
#include "app/main_form.h"
#include "common/window_registry.h"
#include "compose/send_mail.h"
#include "mail/nmail.h"
#include "settings/account_settings.h"
#include "settings/id_pass_form.h"
#include "settings/secret_store.h"
#include "settings/sign_in.h"
#include "tests/servers/mail_server_env.h"
#include "sound/module1.h"
#include "tests/support/counting_sound_device.h"
#include "tests/support/mail_error.h"
#include "tests/support/store_records.h"
#include "tests/support/test_folder.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTest>
#include <QUrlQuery>

#include <memory>

using namespace hm::mail;

namespace {
const QString kRefreshSecret = QStringLiteral("refresh_token");

// A browser that goes to the sign-in page, where the test server approves at once, and follows
// its redirect to the program's loopback address; tamper may change either address first.
class ScriptedBrowser {
public:
    std::function<QUrl(QUrl)> tamperSignIn = [](QUrl u) { return u; };
    std::function<QUrl(QUrl)> tamperRedirect = [](QUrl u) { return u; };

    void open(const QUrl& url)
    {
        QNetworkRequest request(tamperSignIn(url));
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        QNetworkReply* reply = net_.get(request);
        QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply] {
            reply->deleteLater();
            const QUrl location = reply->header(QNetworkRequest::LocationHeader).toUrl();
            if (location.isValid())
                net_.get(QNetworkRequest(tamperRedirect(location)));
        });
    }

private:
    QNetworkAccessManager net_;
};

QUrl withQueryItem(QUrl url, const QString& key, const QString& value)
{
    QUrlQuery query(url);
    query.removeAllQueryItems(key);
    query.addQueryItem(key, value);
    url.setQuery(query);
    return url;
}
} // namespace

class TestSignIn : public QObject {
    Q_OBJECT
private:
    hm::test::MailServerEnv env;
    hm::test::CountingSoundDevice sound;
    std::unique_ptr<hm::test::TestFolder> folder;
    ScriptedBrowser* browser = nullptr;

    // The token logs in to the POP3 server and sends through the SMTP server.
    void tokenWorks(const QString& token)
    {
        NMailSetAccessToken(token);
        const int handle = NMailPop3Connect(env.pop3Server());
        QVERIFY2(NMailPop3Authenticate(handle, env.user, QString(), 0) >= 0, qPrintable(hm::test::takeMailError()));
        NMailPop3Close(handle);
        NMailSetSmtpCredentials(env.user, QString());
        QVERIFY2(NMailSmtpSendMail(env.smtpServer(), QStringLiteral("hayate@localhost"), QString(), QString(),
                                   QStringLiteral("me@localhost"), QStringLiteral("signed in"), QStringLiteral("b"),
                                   QString(), QString(), 0)
                     == 0,
                 qPrintable(hm::test::takeMailError()));
        NMailSetAccessToken(QString());
    }

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void signInRefreshAndSignInAgain();
    void failedSignInChangesNothing_data();
    void failedSignInChangesNothing();
};

void TestSignIn::initTestCase()
{
    env = hm::test::MailServerEnv::load();
    QVERIFY2(env.valid && !env.authUrl.isEmpty(), "the mail_servers fixture did not write its env file");
    NMailInitializeWinSock();
    hm::sound::setSoundDevice(&sound);
    hm::settings::setSignInModulePath(hm::test::builtModule(QStringLiteral("hayatemail-signin.so")));
}

void TestSignIn::init()
{
    folder = std::make_unique<hm::test::TestFolder>();
    auto* b = new ScriptedBrowser;
    browser = b;
    folder->ui.browser = [b](const QUrl& url) { b->open(url); };
    hm::settings::ForgetAccessToken();
    hm::settings::SignInSettings s;
    s.browserSignIn = true;
    s.provider = QStringLiteral("その他");
    s.authorizationUrl = env.authUrl + QStringLiteral("/authorize");
    s.tokenUrl = env.authUrl + QStringLiteral("/token");
    s.scope = QStringLiteral("pop smtp offline_access");
    s.clientId = QStringLiteral("hayatemail-test");
    QVERIFY(hm::settings::SaveSignInSettings(s));
    env.authControl(QStringLiteral("lifetime"));
}

void TestSignIn::cleanup()
{
    folder.reset();
    delete browser;
    browser = nullptr;
}

void TestSignIn::signInRefreshAndSignInAgain()
{
    // First use: the user agrees, signs in in the browser, and the token works at once.
    folder->ui.answers.enqueue(hm::ui::Answer::Ok);
    const QString first = hm::settings::AccountAccessToken(nullptr);
    QVERIFY2(!first.isEmpty(), qPrintable(folder->ui.texts().join(QLatin1Char('\n'))));
    QCOMPARE(folder->ui.urls.size(), 1);
    const QUrlQuery asked(folder->ui.urls[0]);
    QCOMPARE(asked.queryItemValue(QStringLiteral("code_challenge_method")), QStringLiteral("S256"));
    QVERIFY(asked.queryItemValue(QStringLiteral("redirect_uri")).startsWith(QLatin1String("http://127.0.0.1:")));
    tokenWorks(first);
    QCOMPARE(hm::settings::AccountAccessToken(nullptr), first);
    // The refresh token is kept owner-only (there is no keyring here), never the access token.
    const QByteArray file = folder->read(hm::settings::kAccountFile);
    QVERIFY(!hm::settings::fileSecrets().read(kRefreshSecret).isEmpty());
    QVERIFY(!file.contains(first.toUtf8()));

    // A token that has run out is renewed with the refresh token, without the browser or a word.
    env.authControl(QStringLiteral("lifetime&seconds=30"));
    hm::settings::ForgetAccessToken();
    const QString shortLived = hm::settings::AccountAccessToken(nullptr);
    QVERIFY(!shortLived.isEmpty() && shortLived != first);
    const QString renewed = hm::settings::AccountAccessToken(nullptr);
    QVERIFY(!renewed.isEmpty() && renewed != shortLived);
    QCOMPARE(folder->ui.urls.size(), 1);
    QCOMPARE(folder->ui.shown.size(), 1);
    tokenWorks(renewed);

    // A refused refresh asks for a new sign-in, and only then opens the browser.
    env.authControl(QStringLiteral("lifetime"));
    QVERIFY(!env.authControl(QStringLiteral("revoke")).isEmpty());
    hm::settings::ForgetAccessToken();
    folder->ui.answers.enqueue(hm::ui::Answer::Ok);
    const QString again = hm::settings::AccountAccessToken(nullptr);
    QVERIFY2(!again.isEmpty(), qPrintable(folder->ui.texts().join(QLatin1Char('\n'))));
    QCOMPARE(folder->ui.urls.size(), 2);
    QVERIFY(folder->ui.shown.last().text.contains(QStringLiteral("もう一度サインイン")));
    tokenWorks(again);

    // A send from the compose window logs in with the account's token, not a password.
    auto& account = hm::settings::account();
    account.SmtpServer = env.smtpServer();
    account.MailAddress = QStringLiteral("me@localhost");
    QVERIFY(hm::settings::WriteAccountValue(QStringLiteral("NAME"), env.user));
    const qsizetype delivered = env.messageFiles().size();
    {
        hm::compose::SendSession session;
        QCOMPARE(session.send(QStringLiteral("hayate@localhost"), QStringLiteral("sent"), QStringLiteral("b"), QString()),
                 0);
    }
    QCOMPARE(env.messageFiles().size(), delivered + 1);
    QCOMPARE(folder->ui.urls.size(), 2);

    // So does a check from the main window: no password is asked for, none is saved.
    folder->write(QStringLiteral("\\hymail.ini"), "POP3=" + env.pop3Server().toUtf8() + "\r\n");
    MainForm main;
    main.endProcess = [] {};
    QVERIFY(main.Form_Load());
    CheckMail(main);
    QVERIFY2(env.messageFiles().isEmpty(), qPrintable(folder->ui.texts().join(QLatin1Char('\n'))));
    QCOMPARE(hm::test::storedCount(hm::store::Store::Received), int(delivered + 1));
    const IdPassForm* accountWindow = hm::loadedWindow<IdPassForm>();
    QVERIFY(!accountWindow || !accountWindow->isVisible());
    QCOMPARE(folder->ui.urls.size(), 2);
}

void TestSignIn::failedSignInChangesNothing_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("said");
    QTest::newRow("browser closed") << "closed" << "ブラウザでのサインインが完了しませんでした";
    QTest::newRow("state changed on the way back") << "state" << "state が一致しません";
    QTest::newRow("PKCE challenge replaced") << "challenge" << "トークンを出しませんでした";
}

void TestSignIn::failedSignInChangesNothing()
{
    QFETCH(QString, how);
    QFETCH(QString, said);
    QVERIFY(hm::settings::fileSecrets().write(kRefreshSecret, QStringLiteral("kept-from-before")));
    if (how == QLatin1String("closed")) {
        folder->ui.browser = nullptr;
        hm::settings::setSignInWaitSeconds(1);
    } else if (how == QLatin1String("state")) {
        browser->tamperRedirect = [](QUrl u) { return withQueryItem(u, QStringLiteral("state"), QStringLiteral("forged")); };
    } else {
        browser->tamperSignIn = [](QUrl u) {
            return withQueryItem(u, QStringLiteral("code_challenge"), QStringLiteral("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"));
        };
    }
    QVERIFY(!hm::settings::SignInWithBrowser(nullptr));
    hm::settings::setSignInWaitSeconds(300);
    QCOMPARE(folder->ui.shown.size(), 1);
    QVERIFY2(folder->ui.shown[0].text.contains(said), qPrintable(folder->ui.shown[0].text));
    QCOMPARE(hm::settings::fileSecrets().read(kRefreshSecret), QStringLiteral("kept-from-before"));
}

QTEST_MAIN(TestSignIn)
#include "test_sign_in.moc"
