// Stands in for the editor in the tests: installed as Vellix.exe beside the
// helper, it records each start as one file in the folder "launches" beside
// itself, named by the time of the start (nanoseconds) and its process id,
// holding its arguments separated by NUL bytes, and beside it a file of the
// same name ending in ".cwd" with its current folder.

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);

    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return 2;
    std::string folder(self, size_t(length));
    folder = folder.substr(0, folder.rfind('/')) + "/launches";
    mkdir(folder.c_str(), 0700);

    char name[128];
    std::snprintf(name, sizeof name, "/%lld%09ld-%d.launch", static_cast<long long>(now.tv_sec),
                  now.tv_nsec, int(getpid()));
    const std::string path = folder + name;
    const std::string draft = path + ".draft";
    FILE *out = std::fopen(draft.c_str(), "wb");
    if (!out)
        return 2;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            std::fputc('\0', out);
        std::fwrite(argv[i], 1, std::strlen(argv[i]), out);
    }
    std::fclose(out);
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) {
        const std::string cwdFile = path.substr(0, path.size() - 7) + ".cwd";
        if (FILE *where = std::fopen(cwdFile.c_str(), "wb")) {
            std::fwrite(cwd, 1, std::strlen(cwd), where);
            std::fclose(where);
        }
    }
    return std::rename(draft.c_str(), path.c_str()) == 0 ? 0 : 2;
}
