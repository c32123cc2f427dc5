/* The floor of the fan-out benchmark: a process that only writes its path
 * (its second argument) to a file named after its process id in $TMPDIR/bare
 * and ends. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    const char *tmp = getenv("TMPDIR");
    char folder[4096], path[4200];
    snprintf(folder, sizeof folder, "%s/bare", tmp ? tmp : "/tmp");
    mkdir(folder, 0700);
    snprintf(path, sizeof path, "%s/%d.txt", folder, (int)getpid());
    FILE *out = fopen(path, "wb");
    if (!out)
        return 1;
    if (argc > 2)
        fwrite(argv[2], 1, strlen(argv[2]), out);
    fclose(out);
    return 0;
}
