// Runs files through a fuzz target without libFuzzer: every file named, and
// every file of every directory named, once each, in name order. The test
// trees use it to replay the committed corpora and the reproducers of past
// findings with the compiler and sanitizers of the tree. Exits 1 when a
// path cannot be read; a fault in the target ends the process as it would
// under the fuzzer.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

static bool run_file(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return false;
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    // a copy of exactly the file's size, so that reading past it shows
    uint8_t *copy = new uint8_t[data.size() ? data.size() : 1];
    std::copy(data.begin(), data.end(), copy);
    LLVMFuzzerTestOneInput(copy, data.size());
    delete[] copy;
    return true;
}

int main(int argc, char **argv)
{
    // absolute first: a target may change its working directory
    std::vector<std::string> paths;
    for (int i = 1; i < argc; i++) {
        char *full = realpath(argv[i], nullptr);
        paths.push_back(full ? full : argv[i]);
        free(full);
    }
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    int files = 0, status = 0;
    for (const std::string &path : paths) {
        struct stat st;
        if (stat(path.c_str(), &st) != 0) {
            fprintf(stderr, "replay: cannot read %s\n", path.c_str());
            status = 1;
            continue;
        }
        std::vector<std::string> names;
        if (S_ISDIR(st.st_mode)) {
            DIR *d = opendir(path.c_str());
            while (struct dirent *e = d ? readdir(d) : nullptr)
                if (e->d_name[0] != '.')
                    names.push_back(path + "/" + e->d_name);
            if (d)
                closedir(d);
            std::sort(names.begin(), names.end());
        } else {
            names.push_back(path);
        }
        for (const std::string &n : names) {
            if (!run_file(n)) {
                fprintf(stderr, "replay: cannot read %s\n", n.c_str());
                status = 1;
                continue;
            }
            files++;
        }
    }
    printf("replay: %d inputs\n", files);
    return status;
}
