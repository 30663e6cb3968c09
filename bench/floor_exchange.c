// SPDX-License-Identifier: MIT
/* The floor for the exchange benchmark: the same bytes as the program's
 * SCPI query and X3.28 poll, written and read with nothing but raw termios
 * calls on the same device, at 38400 baud 8N1.
 *
 *   floor_exchange DEVICE scpi|x328 COUNT OUTFILE
 *
 * Each exchange drains pending input, writes, and reads until the awaited
 * byte, exactly as the program does; its time in microseconds goes to
 * OUTFILE, one line each. Exits 1 when an exchange gets a wrong answer. */

#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

enum { STX = 2, ETX = 3, EOT = 4, ENQ = 5, ACK = 6, LF = 10, NAK = 21 };

static int fd = -1;
static char buf[4096];
static size_t len;

static double nowMicros(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e6 + (double)t.tv_nsec / 1e3;
}

static void sendBytes(const char *data, size_t n)
{
    while (n > 0) {
        const ssize_t w = write(fd, data, n);
        if (w <= 0) {
            perror("write");
            exit(2);
        }
        data += w;
        n -= (size_t)w;
    }
}

/* Reads into buf (from empty) until one of the terminators arrives; the
 * line's own timer (VTIME) ends a read after 3 s of silence. */
static int readUntil(const char *terminators)
{
    len = 0;
    for (;;) {
        const ssize_t n = read(fd, buf + len, sizeof buf - len - 1);
        if (n <= 0)
            return 0;
        for (ssize_t i = 0; i < n; ++i)
            if (strchr(terminators, buf[len + (size_t)i]) && buf[len + (size_t)i] != 0) {
                len += (size_t)n;
                return 1;
            }
        len += (size_t)n;
        if (len >= sizeof buf - 1)
            return 0;
    }
}

static void settle(void)
{
    usleep(50000);
    tcflush(fd, TCIFLUSH);
}

int main(int argc, char **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: %s DEVICE scpi|x328 COUNT OUTFILE\n", argv[0]);
        return 2;
    }
    const int x328 = strcmp(argv[2], "x328") == 0;
    const int count = atoi(argv[3]);
    FILE *out = fopen(argv[4], "a");
    fd = open(argv[1], O_RDWR | O_NOCTTY);
    if (fd < 0 || !out) {
        perror("open");
        return 2;
    }
    struct termios t;
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, B38400);
    cfsetospeed(&t, B38400);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 30;
    tcsetattr(fd, TCSANOW, &t);

    /* Start from SCPI whatever an earlier run left. */
    sendBytes("@@@", 3);
    settle();
    int failures = 0;
    if (!x328) {
        for (int i = 0; i < count; ++i) {
            const double t0 = nowMicros();
            tcflush(fd, TCIFLUSH);
            sendBytes("*IDN?\n", 6);
            const int ok = readUntil("\n");
            const double t1 = nowMicros();
            buf[len] = 0; /* the prompt of the query before may come first */
            if (!ok || !strstr(buf, "Vek,"))
                ++failures;
            fprintf(out, "%.1f\n", t1 - t0);
        }
    } else {
        static const char lang[] = "SYST:LANG X3.28";
        sendBytes(lang, strlen(lang));
        sendBytes("\n", 1);
        sendBytes(lang, strlen(lang)); /* the bare second copy, as the program sends it */
        settle();
        const char open[2] = {'1', ENQ};
        sendBytes(open, 2);
        const char ack[2] = {ACK, 0}, ackNak[3] = {ACK, NAK, 0}, etx[2] = {ETX, 0}, eot[2] = {EOT, 0};
        if (!readUntil(ack)) {
            fprintf(stderr, "no link\n");
            return 1;
        }
        const char poll[] = {STX, '?', ' ', 'C', '1', ETX};
        const char eotOut = EOT, ackOut = ACK;
        for (int i = 0; i < count; ++i) {
            const double t0 = nowMicros();
            tcflush(fd, TCIFLUSH);
            sendBytes(poll, sizeof poll);
            int ok = readUntil(ackNak) && memchr(buf, ACK, len);
            if (ok) {
                sendBytes(&eotOut, 1);
                ok = readUntil(etx) && buf[0] == STX;
            }
            if (ok) {
                sendBytes(&ackOut, 1);
                ok = readUntil(eot);
            }
            const double t1 = nowMicros();
            if (!ok)
                ++failures;
            fprintf(out, "%.1f\n", t1 - t0);
        }
        sendBytes("@@@", 3);
        settle();
    }
    fclose(out);
    close(fd);
    if (failures)
        fprintf(stderr, "floor_exchange: %d of %d exchanges failed\n", failures, count);
    return failures ? 1 : 0;
}
