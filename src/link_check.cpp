// SPDX-License-Identifier: GPL-3.0-or-later
// The program of every layer's link check (see src/CMakeLists.txt): what
// matters is that it links, not what it does.
int main()
{
    return 0;
}
