/* A plain C program over the installed header: proves the C interface. */
#include <stdio.h>
#include <string.h>

#include "ferrolink/ferrolink.h"

int main(void) {
    _QVDeviceInfo table[20];
    memset(table, 0, sizeof table);
    int found = qv_GetDevice(table, 20);
    printf("found=%d\n", found);
    for (int i = 0; i < found; ++i)
        printf("%d %d %s %s %s\n", i, table[i].nPortType, table[i].szProductName,
               table[i].szSerialNumber, table[i].szFirmwareVersion);
    return found >= 0 ? 0 : 1;
}
