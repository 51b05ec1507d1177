// The bench's floor: one int read and written with iostreams.
#include <iostream>

int main() {
    int value = 0;
    std::cin >> value;
    std::cout << value << std::endl;
}
