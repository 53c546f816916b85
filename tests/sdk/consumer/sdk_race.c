/* sdk_race <threads> <processes>: the threads of this process, and those of the other processes
   started with the same count, ask for the read-write ID at the same moment. Each process counts
   itself in on a named semaphore; the last one in opens a named event that every thread waits
   for. Prints one line per thread: result, ID, marker state (IDROVAN_MARKER_CREATED for the one
   call that wrote the marker). */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <idrovan.h>

#define MAX_THREADS 64

static HANDLE go = NULL;

typedef struct {
    int result;
    char id[IDROVAN_ID_SIZE];
    idrovan_detail detail;
} answer;

static DWORD WINAPI ask(LPVOID parameter) {
    answer* a = (answer*)parameter;
    a->detail.size = sizeof(a->detail);
    WaitForSingleObject(go, 60000);
    a->result = idrovan_get_computer_id(0, a->id, sizeof(a->id), NULL, &a->detail);
    return 0;
}

int main(int argc, char** argv) {
    int threads = argc > 1 ? atoi(argv[1]) : 16;
    long processes = argc > 2 ? atol(argv[2]) : 1;
    HANDLE handles[MAX_THREADS];
    static answer answers[MAX_THREADS];
    HANDLE arrivals;
    LONG before = 0;
    int i;
    if (threads < 1 || threads > MAX_THREADS || processes < 1)
        return 100;
    go = CreateEventA(NULL, TRUE, FALSE, "Local\\IdrovanSdkRaceGo");
    arrivals = CreateSemaphoreA(NULL, 0, 1000, "Local\\IdrovanSdkRaceArrivals");
    if (go == NULL || arrivals == NULL)
        return 101;
    for (i = 0; i < threads; ++i) {
        handles[i] = CreateThread(NULL, 0, ask, &answers[i], 0, NULL);
        if (handles[i] == NULL)
            return 102;
    }
    ReleaseSemaphore(arrivals, 1, &before);
    if (before + 1 >= processes)
        SetEvent(go);
    WaitForMultipleObjects((DWORD)threads, handles, TRUE, INFINITE);
    for (i = 0; i < threads; ++i) {
        printf("%d %s marker=%d\n", answers[i].result, answers[i].id[0] ? answers[i].id : "-",
               answers[i].detail.marker);
        CloseHandle(handles[i]);
    }
    CloseHandle(arrivals);
    CloseHandle(go);
    return 0;
}
