// SPDX-License-Identifier: MIT
#include "ScanTool.h"

#include <algorithm>
#include <iostream>

int main(int argc, char **argv)
{
    return ScanTool::run({argv + std::min(argc, 1), argv + argc}, std::cout, std::cerr);
}
