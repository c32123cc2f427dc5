// Plays the file manager for a verb with a DropTarget key, as it does when
// the user picks the verb on a selection: reads the verb key's
// DropTarget\Clsid, creates the class out of process, hands it one data
// object with the selected files (CF_HDROP, in their order), calls
// DragEnter and Drop, and lets it go.
//   explorer_double.exe VERBKEY @FILE [HOLDMS]   (the paths one a line,
//   UTF-8; the object held HOLDMS more after the Drop, as a file manager
//   window that stays open may). EXPLORER_DOUBLE_EFFECTS, where set, is
//   the mask of effects the caller allows (else copy and link);
//   EXPLORER_DOUBLE_PAUSE_MS, a pause between DragEnter and Drop.
// Prints "drop STAMP" (100 ns units, just before Drop), "effect N" and
// "took MS" for the Drop call; exit code 3 when the class did not answer.
#include <windows.h>
#include <ole2.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<std::wstring> readPaths(const wchar_t *file)
{
    std::vector<std::wstring> paths;
    FILE *in = _wfopen(file, L"rb");
    if (!in)
        return paths;
    std::string bytes;
    char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, in)) > 0)
        bytes.append(chunk, got);
    fclose(in);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty()) {
            const int size = MultiByteToWideChar(CP_UTF8, 0, line.data(), int(line.size()), nullptr, 0);
            std::wstring path(size_t(size), L'\0');
            MultiByteToWideChar(CP_UTF8, 0, line.data(), int(line.size()), &path[0], size);
            paths.push_back(path);
        }
        start = end + 1;
    }
    return paths;
}

FORMATETC dropFormat()
{
    return FORMATETC{ CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL };
}

// The selection as the file manager offers it: a DROPFILES block.
class FileList : public IDataObject
{
public:
    explicit FileList(const std::vector<std::wstring> &paths)
    {
        std::wstring names;
        for (const std::wstring &path : paths) {
            names += path;
            names.push_back(L'\0');
        }
        names.push_back(L'\0');
        block.resize(sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
        DROPFILES *drop = reinterpret_cast<DROPFILES *>(block.data());
        drop->pFiles = sizeof(DROPFILES);
        drop->fWide = TRUE;
        memcpy(block.data() + sizeof(DROPFILES), names.data(), names.size() * sizeof(wchar_t));
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (iid == IID_IUnknown || iid == IID_IDataObject) {
            *object = static_cast<IDataObject *>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&references)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&references);
        if (left == 0)
            delete this;
        return ULONG(left);
    }

    HRESULT STDMETHODCALLTYPE GetData(FORMATETC *format, STGMEDIUM *medium) override
    {
        if (!format || !medium || format->cfFormat != CF_HDROP || !(format->tymed & TYMED_HGLOBAL))
            return DV_E_FORMATETC;
        HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, block.size());
        if (!copy)
            return E_OUTOFMEMORY;
        memcpy(GlobalLock(copy), block.data(), block.size());
        GlobalUnlock(copy);
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = copy;
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC *, STGMEDIUM *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC *format) override
    {
        return format && format->cfFormat == CF_HDROP && (format->tymed & TYMED_HGLOBAL) ? S_OK : DV_E_FORMATETC;
    }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC *, FORMATETC *out) override
    {
        if (out)
            out->ptd = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC *, STGMEDIUM *, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC **formats) override
    {
        if (direction != DATADIR_GET)
            return E_NOTIMPL;
        FORMATETC format = dropFormat();
        return SHCreateStdEnumFmtEtc(1, &format, formats);
    }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC *, DWORD, IAdviseSink *, DWORD *) override
    {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA **) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    virtual ~FileList() = default;
    LONG references = 1;
    std::vector<char> block;
};

unsigned long long now()
{
    FILETIME time;
    GetSystemTimeAsFileTime(&time);
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc < 3 || argc > 4 || argv[2][0] != L'@')
        return 2;
    // Each step shows, even if a later one never returns.
    setvbuf(stdout, nullptr, _IONBF, 0);
    const std::vector<std::wstring> paths = readPaths(argv[2] + 1);
    const std::wstring key = std::wstring(L"Software\\Classes\\SystemFileAssociations\\.pdf\\Shell\\") + argv[1]
            + L"\\DropTarget";
    wchar_t text[64];
    DWORD size = sizeof text;
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"Clsid", RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) {
        printf("no DropTarget\\Clsid\n");
        return 3;
    }
    CLSID classId;
    if (FAILED(CLSIDFromString(text, &classId)))
        return 3;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IDropTarget *target = nullptr;
    const HRESULT made = CoCreateInstance(classId, nullptr, CLSCTX_LOCAL_SERVER, IID_IDropTarget,
                                          reinterpret_cast<void **>(&target));
    if (FAILED(made) || !target) {
        printf("activation failed 0x%08lx\n", static_cast<unsigned long>(made));
        CoUninitialize();
        return 3;
    }
    FileList *data = new FileList(paths);
    POINTL point = { 0, 0 };
    const wchar_t *allowedText = _wgetenv(L"EXPLORER_DOUBLE_EFFECTS");
    const DWORD allowed = allowedText ? DWORD(_wtoi(allowedText)) : DROPEFFECT_COPY | DROPEFFECT_LINK;
    DWORD effect = allowed;
    target->DragEnter(data, MK_LBUTTON, point, &effect);
    printf("enter %lu\n", static_cast<unsigned long>(effect));
    if (const wchar_t *pause = _wgetenv(L"EXPLORER_DOUBLE_PAUSE_MS"))
        Sleep(DWORD(_wtoi(pause)));
    const unsigned long long before = now();
    printf("drop %llu\n", before);
    effect = allowed;
    const HRESULT dropped = target->Drop(data, 0, point, &effect);
    printf("took %llu\n", (now() - before) / 10000);
    printf("effect %lu result 0x%08lx\n", static_cast<unsigned long>(effect), static_cast<unsigned long>(dropped));
    if (argc == 4)
        Sleep(DWORD(_wtoi(argv[3])));
    target->Release();
    data->Release();
    CoUninitialize();
    return SUCCEEDED(dropped) ? 0 : 4;
}
