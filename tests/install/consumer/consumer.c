/* A program built against an installed Ferrolink: it finds the scanners and
 * prints each one's product name and serial number. With a serial number as
 * argument it succeeds only when exactly that scanner is found. */
#include <ferrolink/ferrolink.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
    _QVDeviceInfo devices[8];
    memset(devices, 0, sizeof devices);
    const int found = qv_GetDevice(devices, 8);
    int matched = 0;
    for (int i = 0; i < found; ++i) {
        char serial[sizeof devices[i].szSerialNumber + 1] = {0};
        memcpy(serial, devices[i].szSerialNumber, sizeof devices[i].szSerialNumber);
        printf("%d %.32s %s\n", i, devices[i].szProductName, serial);
        if (argc > 1 && strcmp(serial, argv[1]) == 0)
            ++matched;
    }
    if (argc > 1)
        return found == 1 && matched == 1 ? 0 : 1;
    return 0;
}
