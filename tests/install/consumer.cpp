// Uses one function of the installed library; prints the MD5 of "abc".
#include <cstdio>

#include "libmerovane/core/StringExtensions.h"

int main() {
    const std::string digest = md5EncodedString("abc");
    std::puts(digest.c_str());
    return digest == "900150983CD24FB0D6963F7D28E17F72" ? 0 : 1;
}
