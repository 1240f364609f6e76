#include <cstdio>

int main()
{
    std::puts("pelinor-cli: not built yet");
    return 2;
}
