#include "drop_targets.h"

#include "login_name.h"

#include <QtCore/qcoreapplication.h>
#include <QtCore/qelapsedtimer.h>
#include <QtCore/qeventloop.h>
#include <QtCore/qtimer.h>

#include <qt_windows.h>
#include <ole2.h>
#include <shlobj.h>

#include <memory>
#include <string>
#include <vector>

// A local server of one class per verb: COM starts the helper with
// -Embedding, the helper registers a class object for each verb, and the
// file manager's calls arrive as window messages, which the framework's
// event loop dispatches.

namespace {

FORMATETC dropFormat()
{
    return FORMATETC{ CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL };
}

QStringList pathsOf(IDataObject *data)
{
    FORMATETC format = dropFormat();
    STGMEDIUM medium = {};
    if (!data || FAILED(data->GetData(&format, &medium)))
        return QStringList();
    QStringList paths;
    if (medium.tymed == TYMED_HGLOBAL) {
        if (const char *block = static_cast<const char *>(::GlobalLock(medium.hGlobal))) {
            const SIZE_T size = ::GlobalSize(medium.hGlobal);
            paths = pathsOfDropFiles(QByteArray::fromRawData(block, int(qMin<SIZE_T>(size, INT_MAX))));
            ::GlobalUnlock(medium.hGlobal);
        }
    }
    ::ReleaseStgMedium(&medium);
    return paths;
}

// Windows suspends a server's class objects as the count of its objects
// and locks drops to zero, so that an activation that comes later starts a
// new server. Wine does not, and may still hand out a class object of a
// server that is about to end: there the server lingers a moment.
bool classesOutliveTheirServer()
{
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

// The server's life. It ends as soon as no object and no lock is held (a
// client that died is COM's to run down), or when none came within the
// idle time of its start; a client that holds an object and never calls
// again is waited for a minute at most. Deliveries run after the calls.
class Server
{
public:
    Server(QEventLoop *loop, const std::function<void(const QString &, const QStringList &)> &deliver,
           const std::function<void()> &withdraw)
        : loop(loop), deliver(deliver), withdraw(withdraw)
    {
        sinceCall.start();
        linger.setSingleShot(true);
        linger.setInterval(LingerMs);
        QObject::connect(&linger, &QTimer::timeout, loop, [this] {
            if (!inUse())
                end();
        });
    }

    // Objects and locks count as references to the server process.
    void called() { sinceCall.restart(); }
    void objectMade() { hold(&objects); }
    void objectGone() { letGo(&objects); }
    void lock(bool on) { on ? hold(&locks) : letGo(&locks); }
    void dropped(const QString &verbFlag, const QStringList &paths)
    {
        called();
        QTimer::singleShot(0, loop, [this, verbFlag, paths] { deliver(verbFlag, paths); });
    }
    // Once every idle time.
    void idle()
    {
        if (inUse() ? sinceCall.hasExpired(HeldSilentMs) : !linger.isActive())
            end();
    }

private:
    void hold(int *count)
    {
        called();
        ::CoAddRefServerProcess();
        ++*count;
    }
    void letGo(int *count)
    {
        --*count;
        if (::CoReleaseServerProcess() != 0)
            return;
        if (classesOutliveTheirServer())
            linger.start();
        else
            end();
    }
    bool inUse() const { return objects > 0 || locks > 0; }
    void end()
    {
        if (ended)
            return;
        ended = true;
        ::CoSuspendClassObjects();
        withdraw();
        QTimer::singleShot(0, loop, &QEventLoop::quit);
    }

    static constexpr int LingerMs = 1000;
    static constexpr qint64 HeldSilentMs = 60000;
    QEventLoop *loop;
    std::function<void(const QString &, const QStringList &)> deliver;
    std::function<void()> withdraw;
    QTimer linger;
    QElapsedTimer sinceCall;
    int objects = 0;
    int locks = 0;
    bool ended = false;
};

// QueryInterface of an object with one interface beside IUnknown.
template <typename Interface>
HRESULT answerFor(Interface *self, REFIID own, REFIID iid, void **object)
{
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == own) {
        *object = self;
        self->AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

class DropTarget : public IDropTarget
{
public:
    DropTarget(Server *server, const QString &verbFlag) : server(server), verbFlag(verbFlag)
    {
        server->objectMade();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        return answerFor<IDropTarget>(this, IID_IDropTarget, iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(::InterlockedIncrement(&references)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = ::InterlockedDecrement(&references);
        if (left == 0) {
            server->objectGone();
            delete this;
        }
        return ULONG(left);
    }

    // A data object with file paths is taken as a copy, where the caller
    // allows one: the effect comes in as the caller's allowed ones.
    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject *data, DWORD, POINTL, DWORD *effect) override
    {
        server->called();
        FORMATETC format = dropFormat();
        accepts = data && data->QueryGetData(&format) == S_OK;
        return chooseEffect(accepts, effect);
    }
    HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD *effect) override
    {
        return chooseEffect(accepts, effect);
    }
    HRESULT STDMETHODCALLTYPE DragLeave() override { return S_OK; }
    // Reads the paths and returns at once; the editor starts after.
    HRESULT STDMETHODCALLTYPE Drop(IDataObject *data, DWORD, POINTL, DWORD *effect) override
    {
        const bool copyAllowed = !effect || (*effect & DROPEFFECT_COPY);
        const QStringList paths = copyAllowed ? pathsOf(data) : QStringList();
        chooseEffect(!paths.isEmpty(), effect);
        if (!paths.isEmpty())
            server->dropped(verbFlag, paths);
        return S_OK;
    }

private:
    static HRESULT chooseEffect(bool takes, DWORD *effect)
    {
        if (!effect)
            return E_INVALIDARG;
        *effect = takes && (*effect & DROPEFFECT_COPY) ? DROPEFFECT_COPY : DROPEFFECT_NONE;
        return S_OK;
    }

    virtual ~DropTarget() = default;

    LONG references = 1;
    Server *server;
    QString verbFlag;
    bool accepts = false;
};

class ClassFactory : public IClassFactory
{
public:
    ClassFactory(Server *server, const QString &verbFlag) : server(server), verbFlag(verbFlag) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        return answerFor<IClassFactory>(this, IID_IClassFactory, iid, object);
    }
    // Lives as long as the server registers it.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        DropTarget *target = new DropTarget(server, verbFlag);
        const HRESULT result = target->QueryInterface(iid, object);
        target->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL on) override
    {
        server->lock(on);
        return S_OK;
    }

private:
    Server *server;
    QString verbFlag;
};

bool classIdOf(const QString &text, CLSID *classId)
{
    const std::wstring wide = text.toStdWString();
    return SUCCEEDED(::CLSIDFromString(wide.c_str(), classId));
}

// A running server holds one of a few named objects of this user's for as
// long as it runs; the system takes it back when the process ends, however
// it ends. Several servers may run at once (one ending, one new), each in a
// slot of its own.
constexpr int ServerSlots = 8;

std::wstring serverSlotName(int slot)
{
    return (QStringLiteral("Local\\VellixContextMenu-drop-target-server-%1-%2").arg(userSidText()).arg(slot))
            .toStdWString();
}

class ServerPresence
{
public:
    ServerPresence()
    {
        for (int slot = 0; slot < ServerSlots && !held; ++slot) {
            held = ::CreateMutexW(nullptr, FALSE, serverSlotName(slot).c_str());
            if (held && ::GetLastError() == ERROR_ALREADY_EXISTS) {
                ::CloseHandle(held);
                held = nullptr;
            }
        }
    }
    ~ServerPresence()
    {
        if (held)
            ::CloseHandle(held);
    }

private:
    Q_DISABLE_COPY(ServerPresence)
    HANDLE held = nullptr;
};

// COM for this thread, as long as the object lives.
class ComApartment
{
public:
    ComApartment() : initialized(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment() { leave(); }
    // Runs the stubs of objects that clients still hold down, which
    // release them: what those objects point at must still be there.
    void leave()
    {
        if (initialized && !left)
            ::CoUninitialize();
        left = true;
    }
    const bool initialized;

private:
    bool left = false;
};

} // namespace

bool dropTargetsSupported()
{
    return true;
}

void reportDropFailure(const QString &text)
{
    // An unregistered source name writes to the Application log all the
    // same; the text stands in the event as its one string.
    const HANDLE log = ::RegisterEventSourceW(nullptr, L"VellixContextMenu");
    if (!log)
        return;
    const std::wstring wide = text.toStdWString();
    const wchar_t *strings[] = { wide.c_str() };
    ::ReportEventW(log, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 1, 0, strings, nullptr);
    ::DeregisterEventSource(log);
}

int runningDropTargetServers()
{
    int running = 0;
    for (int slot = 0; slot < ServerSlots; ++slot) {
        if (const HANDLE slotObject = ::OpenMutexW(SYNCHRONIZE, FALSE, serverSlotName(slot).c_str())) {
            ::CloseHandle(slotObject);
            ++running;
        }
    }
    return running;
}

bool serveDropTargets(const QList<DropTargetClass> &classes, int idleMs,
                      const std::function<void(const QString &, const QStringList &)> &deliver)
{
    const ServerPresence presence;
    ComApartment apartment;
    if (!apartment.initialized)
        return false;
    QEventLoop loop;
    std::vector<DWORD> cookies;
    const auto withdraw = [&cookies] {
        for (const DWORD cookie : cookies)
            ::CoRevokeClassObject(cookie);
        cookies.clear();
    };
    Server server(&loop, deliver, withdraw);
    std::vector<std::unique_ptr<ClassFactory>> factories;
    // A class that another copy of the server registered first is served
    // there; this copy serves the rest, and ends at once when none is left.
    for (const DropTargetClass &entry : classes) {
        CLSID classId;
        DWORD cookie = 0;
        factories.push_back(std::make_unique<ClassFactory>(&server, entry.verbFlag));
        if (classIdOf(entry.classId, &classId)
            && SUCCEEDED(::CoRegisterClassObject(classId, factories.back().get(), CLSCTX_LOCAL_SERVER,
                                                 REGCLS_MULTIPLEUSE, &cookie)))
            cookies.push_back(cookie);
    }
    const bool registered = !cookies.empty();
    if (registered) {
        QTimer idle;
        QObject::connect(&idle, &QTimer::timeout, &loop, [&server] { server.idle(); });
        idle.start(idleMs);
        loop.exec();
    }
    // The classes go first, then the deliveries that the last calls queued,
    // then COM, which runs down what clients still hold: the server and the
    // class objects those point at go only after it.
    withdraw();
    QCoreApplication::sendPostedEvents();
    apartment.leave();
    return registered;
}

bool dropTargetsActivate(const QStringList &classIds, QString *why)
{
    ComApartment apartment;
    if (!apartment.initialized) {
        if (why)
            *why = QStringLiteral("COM could not be initialized");
        return false;
    }
    // Held together, so that one server start answers for all.
    std::vector<IDropTarget *> targets;
    bool all = true;
    for (const QString &id : classIds) {
        CLSID classId;
        IDropTarget *target = nullptr;
        const HRESULT result = classIdOf(id, &classId)
                ? ::CoCreateInstance(classId, nullptr, CLSCTX_LOCAL_SERVER, IID_IDropTarget,
                                     reinterpret_cast<void **>(&target))
                : E_INVALIDARG;
        if (FAILED(result) || !target) {
            if (why)
                *why = QStringLiteral("the class %1 could not be activated (0x%2)")
                               .arg(id).arg(quint32(result), 8, 16, QLatin1Char('0'));
            all = false;
            break;
        }
        targets.push_back(target);
    }
    for (IDropTarget *target : targets)
        target->Release();
    return all;
}
