#include "private_folder.h"

#include "login_name.h"
#include "user_folders.h"

#include <QtCore/qdir.h>
#include <QtCore/qdiriterator.h>
#include <QtCore/qfileinfo.h>
#include <QtCore/qlist.h>
#include <QtCore/qpair.h>
#include <QtCore/qstandardpaths.h>

#include <qt_windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <memory>
#include <vector>

// The temporary folder is the user's profile's, unless a policy has
// redirected it to one that users share (C:\Temp): then the folders of the
// program in it must be the user's own as on any shared folder. A folder of
// ours belongs to the user's SID, nobody else may add to it, and a
// reparse point (a junction, a link) in its place is never used nor
// followed.

namespace {

const wchar_t *native(const QString &path)
{
    return reinterpret_cast<const wchar_t *>(path.utf16());
}

struct LocalFreer
{
    void operator()(void *memory) const { ::LocalFree(memory); }
};

// The SID of the user this process runs as.
std::vector<BYTE> currentUserSid()
{
    PSID sid = nullptr;
    const std::wstring text = userSidText().toStdWString();
    if (text.empty() || !::ConvertStringSidToSidW(text.c_str(), &sid))
        return {};
    const BYTE *bytes = static_cast<const BYTE *>(sid);
    std::vector<BYTE> copy(bytes, bytes + ::GetLengthSid(sid));
    ::LocalFree(sid);
    return copy;
}

bool isWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    return ::IsWellKnownSid(sid, type);
}

// Rights that let a holder add, remove or rename names in a folder, or
// change who may.
constexpr ACCESS_MASK WritingRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE
        | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// The rights that the access list grants to each trustee, its allowing
// entries in order (those only inherited by what is inside left out);
// false when the list cannot be read.
bool grantedRights(PACL dacl, QList<QPair<PSID, ACCESS_MASK>> *grants)
{
    ACL_SIZE_INFORMATION info;
    if (!::GetAclInformation(dacl, &info, sizeof info, AclSizeInformation))
        return false;
    for (DWORD i = 0; i < info.AceCount; ++i) {
        void *ace = nullptr;
        if (!::GetAce(dacl, i, &ace))
            return false;
        const ACE_HEADER *header = static_cast<const ACE_HEADER *>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
            continue;
        const ACCESS_ALLOWED_ACE *allowed = static_cast<const ACCESS_ALLOWED_ACE *>(ace);
        grants->append({ PSID(const_cast<DWORD *>(&allowed->SidStart)), allowed->Mask });
    }
    return true;
}

// Nobody but the user, the system and the administrators may write into
// the folder.
bool othersCannotWrite(PACL dacl, PSID user)
{
    QList<QPair<PSID, ACCESS_MASK>> grants;
    // A null DACL lets everyone do everything.
    if (!dacl || !grantedRights(dacl, &grants))
        return false;
    return std::all_of(grants.cbegin(), grants.cend(), [user](const QPair<PSID, ACCESS_MASK> &grant) {
        return !(grant.second & WritingRights) || ::EqualSid(grant.first, user)
                || isWellKnown(grant.first, WinLocalSystemSid) || isWellKnown(grant.first, WinBuiltinAdministratorsSid);
    });
}

bool isReparsePoint(const QString &path)
{
    const DWORD attributes = ::GetFileAttributesW(native(QDir::toNativeSeparators(path)));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A folder only the user (and the system) can reach, its rights not taken
// from the parent, and the user its owner: an administrator's new objects
// may otherwise belong to the Administrators group (the default on
// servers, and where NoDefaultAdminOwner is 0).
bool createPrivateFolder(const QString &path)
{
    const QString user = userSidText();
    if (user.isEmpty())
        return false;
    const QString sddl = QStringLiteral("O:%1D:P(A;OICI;FA;;;%1)(A;OICI;FA;;;SY)").arg(user);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(native(sddl), SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    std::unique_ptr<void, LocalFreer> owned(descriptor);
    SECURITY_ATTRIBUTES attributes = { sizeof attributes, descriptor, FALSE };
    return ::CreateDirectoryW(native(QDir::toNativeSeparators(path)), &attributes)
            || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

// A folder whose owner is the user, or the Administrators group or the
// system (which own what an administrator or a service makes for the user)
// while the user is granted the folder.
bool isOwnedForTheUser(PSID owner, PACL dacl, PSID user)
{
    if (!owner)
        return false;
    if (::EqualSid(owner, user))
        return true;
    QList<QPair<PSID, ACCESS_MASK>> grants;
    if (!dacl || !(isWellKnown(owner, WinBuiltinAdministratorsSid) || isWellKnown(owner, WinLocalSystemSid))
        || !grantedRights(dacl, &grants))
        return false;
    return std::any_of(grants.cbegin(), grants.cend(), [user](const QPair<PSID, ACCESS_MASK> &grant) {
        return ::EqualSid(grant.first, user) && (grant.second & (FILE_ALL_ACCESS | GENERIC_ALL)) != 0;
    });
}

// FAT, exFAT and some network shares keep no access lists: no folder there
// can be the user's alone.
bool volumeKeepsAccessLists(const QString &path)
{
    wchar_t root[MAX_PATH + 1];
    DWORD flags = 0;
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    return ::GetVolumePathNameW(name.c_str(), root, MAX_PATH + 1)
            && ::GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)
            && (flags & FILE_PERSISTENT_ACLS);
}

QString chosenTemporaryFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    // A temporary folder on a volume without access lists gives way to a
    // place of the user's on one that keeps them.
    const QString local = localAppDataFolder();
    if (!volumeKeepsAccessLists(folder) && !local.isEmpty() && volumeKeepsAccessLists(local))
        return local + QStringLiteral("/Temp");
    return folder;
}

} // namespace

QString temporaryFolder()
{
    // Chosen once: the lock, the block and the hand-off folder of one
    // process always live in one place.
    static const QString folder = chosenTemporaryFolder();
    return folder;
}

QString privateChannelName(const QString &key)
{
    return key;
}

bool makePrivateFolder(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !isReparsePoint(path)) {
        QDir().mkpath(info.absolutePath());
        createPrivateFolder(path);
    }
    return isPrivateFolder(path);
}

bool descriptorIsPrivate(const QString &sddl)
{
    const std::vector<BYTE> user = currentUserSid();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (user.empty()
        || !::ConvertStringSecurityDescriptorToSecurityDescriptorW(native(sddl), SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    std::unique_ptr<void, LocalFreer> owned(descriptor);
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    if (!::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted)
        || !::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present)
        return false;
    return isOwnedForTheUser(owner, dacl, PSID(user.data())) && othersCannotWrite(dacl, PSID(user.data()));
}

bool isPrivateFolder(const QString &path)
{
    const DWORD attributes = ::GetFileAttributesW(native(QDir::toNativeSeparators(path)));
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)
        || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    const std::vector<BYTE> user = currentUserSid();
    if (user.empty())
        return false;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    if (::GetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    std::unique_ptr<void, LocalFreer> owned(descriptor);
    return isOwnedForTheUser(owner, dacl, PSID(user.data())) && othersCannotWrite(dacl, PSID(user.data()));
}

QString userOwnAlternative(const QString &path)
{
    const QString user = userSidText();
    return user.isEmpty() ? QString() : path + QLatin1Char('-') + user;
}

bool removeTree(const QString &path)
{
    // A junction or a link is removed itself; what it points at stays.
    if (isReparsePoint(path)) {
        const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
        return ::RemoveDirectoryW(name.c_str()) || ::DeleteFileW(name.c_str());
    }
    QDirIterator entries(path, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    while (entries.hasNext()) {
        const QString entry = entries.next();
        if (entries.fileInfo().isDir() || isReparsePoint(entry))
            removeTree(entry);
        else
            QFile::remove(entry);
    }
    return QDir().rmdir(path);
}
