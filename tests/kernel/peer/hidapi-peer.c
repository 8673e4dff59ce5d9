/* A second opinion from another HID library: what hidapi (its hidraw backend) sees of the
 * controller and the bytes of one status exchange, printed in the same lines as
 * ostrel-probe prints them, so that the two can be compared line by line. */
#include <hidapi.h>
#include <locale.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#define VENDOR 0x04D8
#define PRODUCT 0x0002
#define REPORT_SIZE 24
#define STATUS_REQUEST 0x81

int main(void) {
    setlocale(LC_ALL, "C.UTF-8");
    if (hid_init() != 0) {
        fprintf(stderr, "hidapi-peer: hid_init failed\n");
        return 1;
    }
    struct hid_device_info *list = hid_enumerate(VENDOR, PRODUCT);
    int count = 0;
    char path[256] = "";
    for (struct hid_device_info *d = list; d != NULL; d = d->next) {
        printf("device vendor=%04x product=%04x manufacturer=%ls name=%ls path=%s\n",
               d->vendor_id, d->product_id, d->manufacturer_string ? d->manufacturer_string : L"",
               d->product_string ? d->product_string : L"", d->path);
        if (count++ == 0) {
            snprintf(path, sizeof path, "%s", d->path);
        }
    }
    hid_free_enumeration(list);
    printf("devices %d\n", count);
    if (count == 0) {
        return 1;
    }

    hid_device *device = hid_open_path(path);
    if (device == NULL) {
        fprintf(stderr, "hidapi-peer: cannot open %s\n", path);
        return 1;
    }
    unsigned char frame[REPORT_SIZE];
    memset(frame, 0, sizeof frame);
    frame[0] = STATUS_REQUEST;
    const int written = hid_write(device, frame, sizeof frame);
    printf("written %d\n", written);
    unsigned char report[64];
    const int got = hid_read_timeout(device, report, sizeof report, 5000);
    printf("status");
    for (int i = 0; i < got; ++i) {
        printf(" %02x", report[i]);
    }
    printf("\n");
    hid_close(device);
    hid_exit();
    return got > 0 ? 0 : 1;
}
