#pragma once

// The upload loop's pauses and patience. Tests shorten them so the loop can be driven fast.
struct UploadIntervals
{
    int credentialsRetryMs = 5000;
    // Pause after a pass that found no image. A sleeper that watches the folder ends it as soon as something
    // arrives, so this is only the safety pass that catches what a missed notification would leave behind.
    int idlePauseMs = 10000;
    // Pause after a pass that found images but could send none (still being written, not deletable): listing
    // them costs more than an empty folder.
    int waitingPauseMs = 250;
    // Back-off between failed attempts: starts here and doubles up to the maximum.
    int backoffInitialMs = 1000;
    int backoffMaxMs = 30000;
    // A file that does not hold a whole image may still be being written: it is sent as it is only once it
    // has stayed unchanged this long. A whole image is sent at once.
    int settleMs = 30000;
    // An announced image whose file could not be deleted is tried again this often.
    int deleteRetryMs = 5000;
    // An announcement that went unanswered may have been taken: repeated with the same key after this long,
    // the interval doubling with each repeat up to the maximum.
    int unansweredRepeatMs = 30000;
    int unansweredRepeatMaxMs = 600000;
    // An announcement the service refused is tried this many times in all, this far apart, before the image is
    // marked refused.
    int announceRefusalsAllowed = 3;
    int refusedAnnounceRetryMs = 30000;
    // Failed uploads of one file in a row before the files behind it get their turn; it is tried again after
    // backoffMaxMs.
    int failuresBeforeMovingOn = 10;
};
