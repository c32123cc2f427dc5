// The Windows layers on their own, as the Wine suite runs them: the task
// list, the image check, the private folder and the block's named objects.
// VELLIX_ELSEWHERE names the folder of this program as reached by another
// path (a drive letter of its own), when the suite has made one.

#include "command_line.h"
#include "login_name.h"
#include "owner_lock.h"
#include "private_folder.h"
#include "process_list.h"
#include "shared_block.h"

#include <QtCore/qcoreapplication.h>
#include <QtCore/qdir.h>
#include <QtCore/qfileinfo.h>
#include <QtCore/qprocess.h>
#include <QtCore/qregularexpression.h>
#include <QtCore/qtemporarydir.h>
#include <QtTest/qtest.h>

#include <qt_windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <string>

namespace {

std::wstring native(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

// A copy of this program that waits, started from the file at path.
class WaitingCopy
{
public:
    explicit WaitingCopy(const QString &path)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TST_WINDOWS_LAYERS_WAIT"), QStringLiteral("1"));
        process.setProcessEnvironment(env);
        process.start(path, QStringList());
        process.waitForStarted();
    }
    ~WaitingCopy()
    {
        process.kill();
        process.waitForFinished();
    }
    QProcess process;
};

// The trustees of a security descriptor's allowing entries, as SID texts.
QStringList allowedTrustees(PACL dacl, ACCESS_MASK rights = ~ACCESS_MASK(0))
{
    QStringList trustees;
    ACL_SIZE_INFORMATION info;
    if (!dacl || !::GetAclInformation(dacl, &info, sizeof info, AclSizeInformation))
        return trustees;
    for (DWORD i = 0; i < info.AceCount; ++i) {
        void *ace = nullptr;
        if (!::GetAce(dacl, i, &ace) || static_cast<ACE_HEADER *>(ace)->AceType != ACCESS_ALLOWED_ACE_TYPE
            || !(static_cast<ACCESS_ALLOWED_ACE *>(ace)->Mask & rights))
            continue;
        wchar_t *text = nullptr;
        if (::ConvertSidToStringSidW(PSID(&static_cast<ACCESS_ALLOWED_ACE *>(ace)->SidStart), &text)) {
            trustees.append(QString::fromWCharArray(text));
            ::LocalFree(text);
        }
    }
    return trustees;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

QString currentUserSid()
{
    HANDLE token = nullptr;
    ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token);
    char buffer[256];
    DWORD size = sizeof buffer;
    wchar_t *text = nullptr;
    QString sid;
    if (::GetTokenInformation(token, TokenUser, buffer, size, &size)
        && ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer)->User.Sid, &text)) {
        sid = QString::fromWCharArray(text);
        ::LocalFree(text);
    }
    ::CloseHandle(token);
    return sid;
}

} // namespace

class tst_WindowsLayers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void taskListShowsThisProgramOnceByItsWholeName();
    void aCopyIsTheSameFileWhateverPathReachedIt();
    void privateFolderIsTheUsersAlone();
    void folderOwnedByTheAdministratorsIsOursWithOurAccessList();
    void linksAreNeitherUsedNorFollowed();
    void namedObjectsAreTheUsersAndTheSystems();
    void commandLineBound();
    void anyNameComesBackAsItWas();
    void processAgeAndStamp();
    void ownerLockIsHeldUntilItsHolderEnds();
};

void tst_WindowsLayers::taskListShowsThisProgramOnceByItsWholeName()
{
    const QString own = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const QStringList names = runningImageNames(30000);
    QCOMPARE(names.filter(QRegularExpression(QStringLiteral("^%1$").arg(QRegularExpression::escape(own)),
                                             QRegularExpression::CaseInsensitiveOption)).size(), 1);
    QVERIFY(names.size() > 1);
}

void tst_WindowsLayers::aCopyIsTheSameFileWhateverPathReachedIt()
{
    QVERIFY(isRunningCopy(QCoreApplication::applicationPid()));
    QVERIFY(!isRunningCopy(0));

    // Another file of the same name, in another folder, is not this program.
    QTemporaryDir other;
    const QString namesake = other.filePath(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), namesake));
    for (const QString &dll : QDir(QCoreApplication::applicationDirPath()).entryList({ QStringLiteral("*.dll") }))
        QFile::copy(QCoreApplication::applicationDirPath() + QLatin1Char('/') + dll, other.filePath(dll));
    {
        WaitingCopy stranger(namesake);
        QVERIFY(stranger.process.state() == QProcess::Running);
        QVERIFY(!isRunningCopy(stranger.process.processId()));
    }

    // This very file, started by another path to its folder.
    const QString elsewhere = qEnvironmentVariable("VELLIX_ELSEWHERE");
    if (elsewhere.isEmpty())
        QSKIP("no other path to this program's folder was made");
    WaitingCopy copy(elsewhere + QLatin1Char('/') + QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    QVERIFY(copy.process.state() == QProcess::Running);
    QVERIFY(isRunningCopy(copy.process.processId()));
}

void tst_WindowsLayers::privateFolderIsTheUsersAlone()
{
    QTemporaryDir dir;
    const QString mine = dir.filePath(QStringLiteral("mine"));
    QVERIFY(makePrivateFolder(mine));
    QVERIFY(isPrivateFolder(mine));

    // Made with an access list of its own: the user and the system, and
    // not taken from the parent.
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::wstring name = native(mine);
    QCOMPARE(::GetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                     nullptr, &descriptor),
             DWORD(ERROR_SUCCESS));
    QCOMPARE(sorted(allowedTrustees(dacl)), sorted({ currentUserSid(), QStringLiteral("S-1-5-18") }));
    ::LocalFree(descriptor);

    QVERIFY(!isPrivateFolder(dir.filePath(QStringLiteral("missing"))));
    QVERIFY(userOwnAlternative(mine).endsWith(QLatin1Char('-') + currentUserSid()));

    // One that everyone may write into is not the user's alone.
    const QString open = dir.filePath(QStringLiteral("open"));
    QVERIFY(QDir().mkpath(open));
    PACL everyone = nullptr;
    EXPLICIT_ACCESS_W grant = {};
    grant.grfAccessPermissions = GENERIC_ALL;
    grant.grfAccessMode = SET_ACCESS;
    grant.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    grant.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    grant.Trustee.ptstrName = const_cast<wchar_t *>(L"EVERYONE");
    QCOMPARE(::SetEntriesInAclW(1, &grant, nullptr, &everyone), DWORD(ERROR_SUCCESS));
    std::wstring openName = native(open);
    const DWORD set = ::SetNamedSecurityInfoW(openName.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                              nullptr, everyone, nullptr);
    ::LocalFree(everyone);
    PACL kept = nullptr;
    ::GetNamedSecurityInfoW(openName.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &kept,
                            nullptr, &descriptor);
    const bool everyoneWrites = allowedTrustees(kept, FILE_ADD_FILE | GENERIC_ALL).contains(QStringLiteral("S-1-1-0"));
    ::LocalFree(descriptor);
    if (set != ERROR_SUCCESS || !everyoneWrites)
        QSKIP("this system keeps no access list that lets everyone write");
    QVERIFY(!isPrivateFolder(open));
    QVERIFY(!makePrivateFolder(open));
}

void tst_WindowsLayers::folderOwnedByTheAdministratorsIsOursWithOurAccessList()
{
    QTemporaryDir dir;
    const auto makeWith = [&](const QString &name, const QString &sddl) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        const std::wstring text = sddl.toStdWString();
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
            return QString();
        SECURITY_ATTRIBUTES attributes = { sizeof attributes, descriptor, FALSE };
        const QString path = dir.filePath(name);
        const std::wstring folder = native(path);
        const bool made = ::CreateDirectoryW(folder.c_str(), &attributes);
        ::LocalFree(descriptor);
        return made ? path : QString();
    };
    const auto ownerOf = [](const QString &path) {
        PSID owner = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        std::wstring name = native(path);
        QString text;
        wchar_t *sid = nullptr;
        if (::GetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                    nullptr, nullptr, &descriptor) == ERROR_SUCCESS
            && owner && ::ConvertSidToStringSidW(owner, &sid)) {
            text = QString::fromWCharArray(sid);
            ::LocalFree(sid);
        }
        ::LocalFree(descriptor);
        return text;
    };

    // Made by the program, the folder is the user's, whatever owner the
    // system gives an administrator's new objects.
    const QString mine = dir.filePath(QStringLiteral("mine"));
    QVERIFY(makePrivateFolder(mine));
    QCOMPARE(ownerOf(mine), currentUserSid());

    const QString user = currentUserSid();
    // The rule itself, whatever owners this system lets a folder have.
    QVERIFY(descriptorIsPrivate(QStringLiteral("O:%1D:P(A;OICI;FA;;;%1)(A;OICI;FA;;;SY)").arg(user)));
    QVERIFY(descriptorIsPrivate(QStringLiteral("O:BAD:P(A;OICI;FA;;;%1)(A;OICI;FA;;;SY)").arg(user)));
    QVERIFY(descriptorIsPrivate(QStringLiteral("O:SYD:P(A;OICI;FA;;;%1)").arg(user)));
    QVERIFY(!descriptorIsPrivate(QStringLiteral("O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)")));
    QVERIFY(!descriptorIsPrivate(QStringLiteral("O:WDD:P(A;OICI;FA;;;%1)").arg(user)));
    QVERIFY(!descriptorIsPrivate(QStringLiteral("O:BAD:P(A;OICI;FA;;;%1)(A;OICI;FA;;;WD)").arg(user)));
    QVERIFY(!descriptorIsPrivate(QStringLiteral("O:%1D:P(A;OICI;FA;;;%1)(A;OICI;0x2;;;BU)").arg(user)));

    const QString byGroup = makeWith(QStringLiteral("byGroup"),
                                     QStringLiteral("O:BAD:P(A;OICI;FA;;;%1)(A;OICI;FA;;;SY)").arg(user));
    if (byGroup.isEmpty() || ownerOf(byGroup) != QStringLiteral("S-1-5-32-544"))
        QSKIP("this system does not let the Administrators group own a new folder of this user's");
    QVERIFY(isPrivateFolder(byGroup));
    // Owned by the group and not granted to the user: not ours.
    const QString notGranted = makeWith(QStringLiteral("notGranted"), QStringLiteral("O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"));
    QVERIFY(!notGranted.isEmpty());
    QVERIFY(!isPrivateFolder(notGranted));
    // Owned by anyone else: not ours, whatever the list says.
    const QString byEveryone = makeWith(QStringLiteral("byEveryone"),
                                        QStringLiteral("O:WDD:P(A;OICI;FA;;;%1)(A;OICI;FA;;;SY)").arg(user));
    if (!byEveryone.isEmpty() && ownerOf(byEveryone) == QStringLiteral("S-1-1-0"))
        QVERIFY(!isPrivateFolder(byEveryone));
}

void tst_WindowsLayers::linksAreNeitherUsedNorFollowed()
{
    QTemporaryDir dir;
    const QString precious = dir.filePath(QStringLiteral("precious"));
    QVERIFY(QDir().mkpath(precious));
    QFile keep(precious + QStringLiteral("/keep.txt"));
    QVERIFY(keep.open(QIODevice::WriteOnly));
    keep.close();
    const QString tree = dir.filePath(QStringLiteral("tree"));
    QVERIFY(makePrivateFolder(tree));
    const QString link = tree + QStringLiteral("/link");
    if (!::CreateSymbolicLinkW(native(link).c_str(), native(precious).c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY))
        QSKIP("no directory link can be made here");
    const DWORD attributes = ::GetFileAttributesW(native(link).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        QSKIP("a directory link is no reparse point here");
    QVERIFY(!isPrivateFolder(link));
    QVERIFY(!makePrivateFolder(link));
    QVERIFY(removeTree(tree));
    QVERIFY(!QFileInfo::exists(tree));
    QVERIFY(QFileInfo::exists(precious + QStringLiteral("/keep.txt")));
}

void tst_WindowsLayers::namedObjectsAreTheUsersAndTheSystems()
{
    const QString key = QStringLiteral("layers-test-%1").arg(QCoreApplication::applicationPid());
    SharedBlock block(key);
    QVERIFY(block.create(152));
    QVERIFY(block.lock(1000));
    QVERIFY(block.unlock());
    for (const QString &name : { QStringLiteral("Local\\VellixBlock_") + key, QStringLiteral("Local\\VellixBlockLock_") + key }) {
        HANDLE object = name.contains(QLatin1String("Lock_"))
                ? ::OpenMutexW(READ_CONTROL, FALSE, native(name).c_str())
                : ::OpenFileMappingW(READ_CONTROL, FALSE, native(name).c_str());
        QVERIFY2(object, qPrintable(name));
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        QCOMPARE(::GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                   nullptr, &descriptor),
                 DWORD(ERROR_SUCCESS));
        QCOMPARE(sorted(allowedTrustees(dacl)), sorted({ currentUserSid(), QStringLiteral("S-1-5-18") }));
        ::LocalFree(descriptor);
        ::CloseHandle(object);
    }
    // A second user of the block attaches with the rights it needs.
    SharedBlock second(key);
    QVERIFY(!second.create(152));
    QCOMPARE(second.error(), QSharedMemory::AlreadyExists);
    QVERIFY(second.attach(152));
    QVERIFY(second.size() >= 152);
    QVERIFY(second.lock(1000));
    QVERIFY(second.unlock());
}

void tst_WindowsLayers::commandLineBound()
{
    // As the framework writes it: the program, quoted when it holds a
    // space, two spaces, the argument (quoted, as it holds a space).
    const QString spaced = QStringLiteral("C:/Program Files/Vellix/Vellix.exe");
    QCOMPARE(commandLineLength(spaced, QStringLiteral("a b")), spaced.size() + 2 + 2 + 5);
    const QString plain = QStringLiteral("C:/Vellix/Vellix.exe");
    QCOMPARE(commandLineLength(plain, QStringLiteral("ab")), plain.size() + 2 + 2);
    // A quote is escaped, and the backslashes before it doubled; those at
    // the end stay as they are, behind the closing quote.
    QCOMPARE(commandLineLength(plain, QStringLiteral("a\\\"b")), plain.size() + 2 + 6);
    QCOMPARE(commandLineLength(plain, QStringLiteral("a b\\")), plain.size() + 2 + 6);

    // Exactly at the bound: 32,767 characters with the NUL.
    for (const QString &editor : { spaced, plain }) {
        const int room = 32767 - 1 - commandLineLength(editor, QStringLiteral(" "));
        QVERIFY(fitsOneStart(editor, QString(room, QLatin1Char('a')) + QLatin1Char(' ')));
        QVERIFY(!fitsOneStart(editor, QString(room + 1, QLatin1Char('a')) + QLatin1Char(' ')));
    }
}

void tst_WindowsLayers::anyNameComesBackAsItWas()
{
    // A lone surrogate is a name Windows allows: its three bytes, and back.
    const QString lone = QStringLiteral("C:\\Docs\\a") + QChar(0xD800) + QStringLiteral(".pdf");
    QCOMPARE(pathToBytes(lone), QByteArray("C:\\Docs\\a\xED\xA0\x80.pdf"));
    QCOMPARE(pathFromBytes(pathToBytes(lone)), lone);
    const QString text = QString::fromUtf8("caf\xC3\xA9 \xF0\x9F\x98\x80.pdf");
    QCOMPARE(pathToBytes(text), text.toUtf8());
    QCOMPARE(pathFromBytes(text.toUtf8()), text);
    const QString low = QString(QChar(0xDC00)) + QChar(0xD83D);
    QCOMPARE(pathFromBytes(pathToBytes(low)), low);
}

void tst_WindowsLayers::processAgeAndStamp()
{
    const qint64 self = QCoreApplication::applicationPid();
    QVERIFY(processStartStamp(self) != 0);
    QCOMPARE(processStartStamp(self), processStartStamp(self));
    const qint64 age = processAgeMs(self);
    QVERIFY2(age >= 0 && age < 600000, QByteArray::number(age).constData());
    QCOMPARE(processStartStamp(0), quint64(0));
    QCOMPARE(processAgeMs(0), qint64(-1));
    // A copy counts only when it runs as this user: the token's user.
    QVERIFY(!userSidText().isEmpty());
    QCOMPARE(userSidTextOf(self), userSidText());
    QCOMPARE(userSidTextOf(0), QString());
}

void tst_WindowsLayers::ownerLockIsHeldUntilItsHolderEnds()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral(".owner-1-2"));
    OwnerLock mine, another;
    QVERIFY(!another.acquire(path, OwnerLock::ExistingOnly));
    QVERIFY(mine.acquire(path));
    QVERIFY(!another.acquire(path, OwnerLock::ExistingOnly));
    QVERIFY(mine.append("a\n") && mine.append("b\n"));
    mine.release();
    QVERIFY(another.acquire(path, OwnerLock::ExistingOnly));
    QCOMPARE(another.contents(), QByteArray("a\nb\n"));
    another.release(true);
    QVERIFY(!QFileInfo::exists(path));

    // Held by a process that is then ended from outside: free at once.
    QProcess holder;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TST_WINDOWS_LAYERS_HOLD"), path);
    holder.setProcessEnvironment(env);
    holder.start(QCoreApplication::applicationFilePath(), QStringList());
    QVERIFY(holder.waitForReadyRead(10000));
    QVERIFY(!mine.acquire(path));
    holder.kill();
    QVERIFY(holder.waitForFinished(10000));
    QTRY_VERIFY_WITH_TIMEOUT(mine.acquire(path, OwnerLock::ExistingOnly), 5000);
}

int main(int argc, char **argv)
{
    // Started by a test as a copy of this program that waits, or that
    // holds an owner lock while it waits.
    if (qEnvironmentVariableIsSet("TST_WINDOWS_LAYERS_WAIT")) {
        ::Sleep(30000);
        return 0;
    }
    if (qEnvironmentVariableIsSet("TST_WINDOWS_LAYERS_HOLD")) {
        OwnerLock lock;
        if (!lock.acquire(qEnvironmentVariable("TST_WINDOWS_LAYERS_HOLD")))
            return 1;
        std::fputs("held\n", stdout);
        std::fflush(stdout);
        ::Sleep(30000);
        return 0;
    }
    QCoreApplication app(argc, argv);
    tst_WindowsLayers test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windows_layers.moc"
