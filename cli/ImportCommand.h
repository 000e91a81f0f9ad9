// qxtool import: a logic-analyzer capture of the CC lines as a record file.
#pragma once

#include <string>

struct ImportArgs {
    std::string file, out;
    std::string cc1, cc2;
    int clock = 0;
    std::string format;
    bool overwrite = false;
};

int ImportCommand(const ImportArgs& a);
