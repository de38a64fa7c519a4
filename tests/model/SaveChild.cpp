// SPDX-License-Identifier: GPL-3.0-or-later
// A process that saves a file and is stopped in the middle by the test that starts it:
//   save_child limit <bytes> <target> <size>   saves once under a file-size limit (the
//                                              signal of the limit kills it)
//   save_child full <bytes> <target> <size>    the same, the signal ignored: writes fail
//   save_child loop <target> <sizeA> <sizeB>   saves the two contents in turn until killed
// Exit status: 0 saved, 3 the save reported a failure, 2 wrong use.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>

#include "model/SafeFile.h"
#include "tests/model/SaveContent.h"

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    const std::string mode = argv[1];
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    if (mode == "loop") {
        const std::string a = tandrel::test::SaveContent('A', std::strtoull(argv[3], nullptr, 10));
        const std::string b = tandrel::test::SaveContent('B', std::strtoull(argv[4], nullptr, 10));
        for (bool second = true;; second = !second)
            if (tandrel::ReplaceFileContent(argv[2], second ? b : a) != 0) return 3;
    }
    if (mode != "limit" && mode != "full") return 2;
    if (mode == "full") std::signal(SIGXFSZ, SIG_IGN);
    const rlimit size{std::strtoull(argv[2], nullptr, 10), RLIM_INFINITY};
    if (::setrlimit(RLIMIT_FSIZE, &size) != 0) return 2;
    const std::string data = tandrel::test::SaveContent('N', std::strtoull(argv[4], nullptr, 10));
    return tandrel::ReplaceFileContent(argv[3], data) == 0 ? 0 : 3;
}
