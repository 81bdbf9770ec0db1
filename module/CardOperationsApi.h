/* The plug-in's second export: its operations on a card (probe, upgrade,
 * backup, restore, rescue) for a front-end of its own, with plain C types.
 * The host application's interface (GetModule, message 1025) is unchanged;
 * both run the same engine.
 *
 * FwupCardOperations(version) answers the table of that version, or null
 * when the plug-in does not provide it. A table of version N holds the
 * fields of version N and of every earlier one, in their places. Strings are UTF-8; every string an
 * event carries lives until the sink returns. One operation at a time. */
#ifndef FWUP_CARD_OPERATIONS_API_H
#define FWUP_CARD_OPERATIONS_API_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FWUP_CARD_OPERATIONS_VERSION 2u

/* The steps of an operation, in order. Each begins at a progress value:
 * 0, 3, 6, 10, 98, 99. */
typedef enum FwupStep {
    FWUP_STEP_PREPARE = 0, /* package check, port, identification */
    FWUP_STEP_BACKUP = 1,  /* the card's data is saved */
    FWUP_STEP_SWITCH = 2,  /* the card leaves its firmware, the programmer starts */
    FWUP_STEP_IMAGES = 3,  /* the partition table and the images */
    FWUP_STEP_RESET = 4,   /* the card restarts into its new firmware */
    FWUP_STEP_RESTORE = 5  /* the card's data goes back */
} FwupStep;

typedef enum FwupReason {
    FWUP_REASON_NONE = 0,
    FWUP_REASON_NO_ANSWER = 1,   /* the card did not answer, or its port would not open */
    FWUP_REASON_REFUSED = 2,     /* the card answered with an error */
    FWUP_REASON_PACKAGE = 3,     /* the package or the programmer is unusable */
    FWUP_REASON_FILE_SYSTEM = 4, /* a file on this computer could not be read or written */
    FWUP_REASON_INTERRUPTED = 5, /* the cancellation check asked to stop */
    FWUP_REASON_NO_BACKUP = 6,   /* no usable backup of the card's data */
    FWUP_REASON_OTHER_CARD = 7,  /* the backup belongs to another card */
    FWUP_REASON_CARD_STATE = 8   /* the card is in a state the operation cannot start from */
} FwupReason;

typedef enum FwupCardState {
    FWUP_CARD_UNKNOWN = 0,
    FWUP_CARD_ABSENT = 1,          /* not on its port */
    FWUP_CARD_SILENT = 2,          /* on its port but not answering */
    FWUP_CARD_FIRMWARE = 3,
    FWUP_CARD_BOOT_DOWNLOADER = 4,
    FWUP_CARD_FLASH_PROGRAMMER = 5
} FwupCardState;

typedef enum FwupLossKind {
    FWUP_LOSS_NV_ITEM = 0,
    FWUP_LOSS_WIFI_ADDRESS = 1,
    FWUP_LOSS_LOCK_FILE = 2
} FwupLossKind;

typedef enum FwupLossReason {
    FWUP_LOSS_REFUSED_BY_CARD = 0,
    FWUP_LOSS_KEPT_BY_CARD = 1, /* inactive or read-only on the card: skipped by design */
    FWUP_LOSS_NOT_TRIED = 2,
    FWUP_LOSS_NOT_SAVED = 3,   /* the backup could not read it from the card */
    FWUP_LOSS_UNSUPPORTED = 4  /* the card's firmware cannot report it */
} FwupLossReason;

/* How the card is brought back after an operation. */
typedef enum FwupRecovery {
    FWUP_RECOVERY_NONE = 0,    /* unchanged, or done */
    FWUP_RECOVERY_RESCUE = 1,  /* rescue with recoveryPackage, restoring recoveryFrom */
    FWUP_RECOVERY_RESTORE = 2  /* the card runs its firmware: restore recoveryFrom */
} FwupRecovery;

typedef struct FwupLoss {
    int32_t kind;         /* FwupLossKind */
    int32_t reason;       /* FwupLossReason */
    uint32_t nvItem;
    uint32_t nvStatus;    /* the card's status word for the NV item */
    const char* lockFile; /* the EFS path of a lock file, else "" */
} FwupLoss;

typedef struct FwupOutcome {
    int32_t result;      /* 0, -13313 (package rejected), -13314 (failed) */
    int32_t failedStep;  /* FwupStep, when result is not 0 */
    int32_t reason;      /* FwupReason */
    int32_t cardState;   /* FwupCardState: where the card was last seen */
    const char* keptBackup;   /* the kept backup folder of the card's data, or "" */
    const char* keptReadNow;  /* a backup of a card with a pending restore keeps its read here */
    int32_t esnKnown;
    uint32_t esn;
    const char* softwareVersion;
    uint32_t nvItemsRestored;
    int32_t recovery;              /* FwupRecovery */
    const char* recoveryPackage;   /* the package a rescue writes, or "" */
    const char* recoveryFrom;      /* the kept backup that goes back, or "" */
} FwupOutcome;

/* The card an operation works on, as soon as it has read its ESN. */
typedef struct FwupCard {
    uint32_t esn;
    const char* softwareVersion; /* as the card reported it, or "" when unread */
} FwupCard;

/* A sink ignores a kind it does not know: later plug-ins may add kinds
 * (and the fields that hold them, after the others) within one version of
 * the table, since the plug-in owns the event and a sink reads only the
 * fields of the kinds it knows. */
typedef enum FwupEventKind {
    FWUP_EVENT_STEP = 1,
    FWUP_EVENT_PROGRESS = 2,
    FWUP_EVENT_LOSS = 3,
    FWUP_EVENT_OUTCOME = 4,
    FWUP_EVENT_CARD = 5 /* once, before the outcome, when the card's ESN was read */
} FwupEventKind;

typedef struct FwupEvent {
    int32_t kind;   /* FwupEventKind: which of the fields below holds the event */
    int32_t step;   /* FwupStep */
    int32_t percent;
    FwupLoss loss;
    FwupOutcome outcome;
    FwupCard card;
} FwupEvent;

typedef struct FwupOptions {
    int32_t port;              /* COM port number */
    const char* usbPort;       /* POSIX: the card's USB port (sysfs name); null or "": by port number */
    int32_t usbInterface;      /* its serial interface on that port */
    const char* dataFolder;    /* stands for the per-user data folder: kept backups go to <dataFolder>/backups/;
                                  null or "": the usual one */
    int (*cancelRequested)(void* context); /* asked at each step; non-zero stops there; may be null */
    void (*onEvent)(const FwupEvent* event, void* context); /* may be null */
    void* context;
} FwupOptions;

typedef struct FwupCardOperationTable {
    uint32_t version;
    /* The card's state (FwupCardState) and, in its firmware, its ESN. */
    int32_t (*probe)(const FwupOptions* options, int32_t* state, uint32_t* esn);
    /* The operations answer 0, -13313 or -13314 and end with an outcome event. */
    int32_t (*upgrade)(const FwupOptions* options, const char* packageFolder);
    int32_t (*backup)(const FwupOptions* options, const char* folder);
    int32_t (*restore)(const FwupOptions* options, const char* keptFolder, int32_t force);
    int32_t (*rescue)(const FwupOptions* options, const char* packageFolder, const char* fromFolder);
    /* Version 2 on; version 1's table ends above, and the fields above keep
     * their places. A card outside its firmware is flashed with the whole package and
     * none of its data goes back; a card in its firmware is rescued as by
     * rescue, its data saved and restored. */
    int32_t (*rescueWithoutData)(const FwupOptions* options, const char* packageFolder);
} FwupCardOperationTable;

typedef const FwupCardOperationTable* (*FwupCardOperationsFunction)(uint32_t version);

#if defined(_WIN32)
__declspec(dllexport)
#else
__attribute__((visibility("default")))
#endif
const FwupCardOperationTable* FwupCardOperations(uint32_t version);

#ifdef __cplusplus
}
#endif

#endif
