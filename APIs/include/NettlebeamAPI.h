/*
 * Nettlebeam device access library: the public interface.
 *
 * Every device operation of the host software goes through these exports.
 * Records are plain C structures with natural alignment; the offsets noted
 * beside the fields are those of a 64-bit build and are checked at compile
 * time by the layout tests. Every export returns a status (0 success,
 * negative failure) unless it says otherwise; callers own every record they
 * pass, and the only memory the library hands out is the device list.
 *
 * The header compiles as C99 and as C++.
 */
#ifndef NETTLEBEAM_API_H
#define NETTLEBEAM_API_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__) || defined(__clang__)
#define NETTLEBEAM_API __attribute__((visibility("default")))
#else
#define NETTLEBEAM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One UTF-16 code unit; the same type in C and C++. */
#ifdef __cplusplus
typedef char16_t NettlebeamApiChar16;
#else
typedef uint_least16_t NettlebeamApiChar16;
#endif

/* ------------------------------------------------------------------------ */
/* Handles, statuses, library version                                        */
/* ------------------------------------------------------------------------ */

/* The driver's number for an attached device; valid while the device is listed. */
typedef int32_t NettlebeamApiDeviceHandle;

/* Status codes returned by the exports. */
enum NettlebeamApiStatusCode {
    NETTLEBEAM_STATUS_SUCCESS = 0,
    /* The control device could not be opened, the driver failed the request,
       a reply was invalid, or a value could not be read. */
    NETTLEBEAM_STATUS_FAILED = -1,
    /* Already initialised or already registered; also the raw transport
       result of a request that the driver failed. */
    NETTLEBEAM_STATUS_ALREADY_DONE = -2,
    /* Callback not registered; counter index above 15. */
    NETTLEBEAM_STATUS_NOT_FOUND = -3,
    NETTLEBEAM_STATUS_UNKNOWN_HANDLE = -4,
    /* The device lacks the capability, or an argument selects an unsupported mode. */
    NETTLEBEAM_STATUS_NOT_SUPPORTED = -5,
    /* Direct capture errors reported by the driver (its codes 1, 2, 8 and 16). */
    NETTLEBEAM_STATUS_CAPTURE_ERROR_1 = -6,
    NETTLEBEAM_STATUS_CAPTURE_ERROR_2 = -7,
    NETTLEBEAM_STATUS_CAPTURE_ERROR_8 = -8,
    NETTLEBEAM_STATUS_CAPTURE_ERROR_16 = -9,
    NETTLEBEAM_STATUS_BUFFER_TOO_SMALL = -10,
    NETTLEBEAM_STATUS_UPDATE_ALREADY_RUNNING = -12,
    NETTLEBEAM_STATUS_UPDATE_IN_PROGRESS = -13,
    NETTLEBEAM_STATUS_FILE_UNREADABLE = -14,
    /* The firmware image does not match or fails its checks; a features field out of range. */
    NETTLEBEAM_STATUS_INVALID_VALUE = -15,
    NETTLEBEAM_STATUS_NO_UPDATE_STARTED = -16
};

/* Interface version returned by NettlebeamAPIGetVersion: 2.3.19, first component in the lowest
 * byte. */
#define NETTLEBEAM_API_INTERFACE_VERSION 0x00130302u

/* Smallest buffer accepted by the memory capture reads. */
#define NETTLEBEAM_MEMORY_CAPTURE_MIN_BUFFER 0x80000

/* ------------------------------------------------------------------------ */
/* Device list                                                               */
/* ------------------------------------------------------------------------ */

typedef struct NettlebeamApiDevicesListEntry {
    struct NettlebeamApiDevicesListEntry* next; /* 0: null on the last entry */
    intptr_t handle;                            /* 8: low 32 bits are the device handle */
} NettlebeamApiDevicesListEntry;

typedef struct NettlebeamApiDevicesList {
    NettlebeamApiDevicesListEntry* first; /* 0: null when the list is empty */
    int32_t count;                        /* 8 */
} NettlebeamApiDevicesList;

/* ------------------------------------------------------------------------ */
/* Identity, capabilities and versions                                       */
/* ------------------------------------------------------------------------ */

typedef uint32_t NettlebeamApiDeviceType;

enum NettlebeamApiDeviceTypeValue {
    DeviceTypeNone = 0,        /* the hardware identifier could not be read */
    DeviceTypeBadFirmware = 1, /* identifier 0x4A: only a firmware update is possible */
    DeviceTypeUnknown = 2,
    DeviceTypeGigabitGen1 = 3,
    DeviceTypeGigabitGen1B = 4,
    DeviceTypeGigabitGen2 = 5,
    DeviceTypeGigabitGen3 = 6,
    DeviceTypeGigabitGen3Poe = 7,
    DeviceTypeGigabitGen2Poe = 8,
    DeviceTypeGigabitGen2Gps = 9,
    DeviceTypeGigabitGen2GpsPoe = 10,
    DeviceTypeTenGigabit = 11,
    DeviceTypeTenGigabitGps = 12,
    DeviceTypeFastEthernet = 13,
    DeviceTypeGigabitGen4 = 14
};

typedef uint32_t NettlebeamApiCapabilities;

enum NettlebeamApiCapabilityBit {
    CapDeviceControl = 0x00000001,
    CapPortSpeedSelect = 0x00000004,
    CapTiming = 0x00000008,
    CapFirmwareUpdate = 0x00000010,
    CapPoe = 0x00000020,
    CapSfp = 0x00000040,
    CapPacketFilter = 0x00000080,
    CapStatisticsV1 = 0x00000100,
    CapStatisticsV2 = 0x00000200,
    CapPerPortLinkStatus = 0x00000400,
    CapLoopback = 0x00000800,
    CapFastEthernetSpeed = 0x00002000,
    CapCapture = 0x00008000,
    CapPacketSlicing = 0x00010000,
    CapFirmwareSelection = 0x00040000,
    CapCaptureV2 = 0x00080000,        /* hardware firmware version 300 or more */
    CapPacketsTypeFilter = 0x00200000 /* types 11 and 12 with hardware firmware 220 or more */
};

/* USB connection speed reported by NettlebeamAPIGetDeviceExtraInfo. */
enum NettlebeamApiUsbSpeed {
    NETTLEBEAM_USB_FULL_SPEED = 1,
    NETTLEBEAM_USB_HIGH_SPEED = 2,
    NETTLEBEAM_USB_SUPER_SPEED = 3
};

typedef struct NettlebeamApiVersions {
    uint8_t swFirmwareVersion[4]; /* 0: one component per byte, first component first */
    uint8_t driverVersion[4];     /* 4: same layout */
    uint32_t hwFirmwareVersion;   /* 8 */
} NettlebeamApiVersions;

#define NETTLEBEAM_MAX_FIRMWARE_IMAGES 4
#define NETTLEBEAM_FIRMWARE_NAME_SIZE 32

typedef struct NettlebeamApiHwFirmwaresDesc {
    int32_t count;                                                             /* 0 */
    char names[NETTLEBEAM_MAX_FIRMWARE_IMAGES][NETTLEBEAM_FIRMWARE_NAME_SIZE]; /* 4: zero padded */
} NettlebeamApiHwFirmwaresDesc;

/* ------------------------------------------------------------------------ */
/* Features and port speeds                                                  */
/* ------------------------------------------------------------------------ */

/* Flags are 0 or 1 on output; any non-zero value means set on input. */
typedef struct NettlebeamApiDeviceFeatures {
    int32_t keepCrcErrors;       /* 0 */
    int32_t keepCrc32;           /* 4 */
    int32_t disablePortA;        /* 8 */
    int32_t disablePortB;        /* 12 */
    int32_t packetSlicing;       /* 16 */
    int32_t inlineMode;          /* 20: clear means span mode */
    int32_t loopback;            /* 24 */
    int32_t timestamps;          /* 28: timestamps in live capture */
    int32_t syncTimestamps;      /* 32 */
    int32_t forcePpsGeneration;  /* 36 */
    int32_t timestampInitSource; /* 40: 0 system time, 1 RTC, 2 GPS, 3 do not initialise */
    int32_t waitForSync;         /* 44 */
    int32_t ppsOutput;           /* 48 */
    uint16_t ppsDelay;           /* 52 */
    int32_t portATimestampOn;    /* 56: 0 capture, 1 ingress, 2 egress */
    int32_t portBTimestampOn;    /* 60: same coding */
    int32_t configWord0Bit25;    /* 64: device flag carried unchanged */
    uint16_t slicingLength;      /* 68: bytes */
    uint8_t configWord4High;     /* 70: 0 to 3 (current firmware image index) */
} NettlebeamApiDeviceFeatures;

/* Link advertisement of one port; each field a flag. */
typedef struct NettlebeamApiPortSpeed {
    int32_t autoNegotiation;  /* 0 */
    int32_t fullDuplex1000;   /* 4 */
    int32_t fullDuplex100;    /* 8 */
    int32_t halfDuplex100;    /* 12 */
    int32_t fullDuplex10;     /* 16 */
    int32_t halfDuplex10;     /* 20 */
    int32_t asymmetricPause;  /* 24 */
    int32_t symmetricPause;   /* 28 */
    int32_t master;           /* 32 */
    int32_t forceMasterSlave; /* 36 */
} NettlebeamApiPortSpeed;

typedef struct NettlebeamApiPortsSpeed {
    NettlebeamApiPortSpeed ports[2]; /* 0: port A, 40: port B */
} NettlebeamApiPortsSpeed;

/* ------------------------------------------------------------------------ */
/* Link status and transceiver modules                                       */
/* ------------------------------------------------------------------------ */

/* Values of NettlebeamApiPortLink.speed. */
enum NettlebeamApiLinkSpeed {
    NETTLEBEAM_LINK_SPEED_10M = 0,
    NETTLEBEAM_LINK_SPEED_100M = 1,
    NETTLEBEAM_LINK_SPEED_1000M = 2,
    NETTLEBEAM_LINK_SPEED_10G = 3,
    NETTLEBEAM_LINK_SPEED_UNKNOWN = 4,
    NETTLEBEAM_LINK_SPEED_NO_LINK = 5
};

typedef struct NettlebeamApiPortLink {
    int32_t spanPort;   /* 0: 0 inline (shared link), 1 span (own link) */
    int32_t speed;      /* 4: NettlebeamApiLinkSpeed */
    int32_t halfDuplex; /* 8: 1 half duplex, 0 full duplex */
} NettlebeamApiPortLink;

#define NETTLEBEAM_PHY_STATUS_VALUES 31

/* PHY details of one port; value 2 means not available. */
typedef struct NettlebeamApiPhyStatus {
    int32_t values[NETTLEBEAM_PHY_STATUS_VALUES];
} NettlebeamApiPhyStatus;

/* Five diagnostic quantities of a transceiver module, in engineering units. */
typedef struct NettlebeamApiSfpThresholds {
    float temperature; /* 0: degrees Celsius */
    float vcc;         /* 4: volts */
    float txBias;      /* 8: milliamperes */
    float txPower;     /* 12: milliwatts */
    float rxPower;     /* 16: milliwatts */
} NettlebeamApiSfpThresholds;

/*
 * One transceiver module, decoded from its serial ID page (A0) and its
 * diagnostics page (A2). Every flag below is 1 when its source bit is clear
 * and 0 when it is set; the comments give the source byte and bits, index 0
 * first.
 */
typedef struct NettlebeamApiSfpModule {
    uint8_t present;                        /* 0 */
    char vendorName[17];                    /* 1 */
    uint32_t vendorOui;                     /* 20 */
    char partNumber[17];                    /* 24 */
    char revision[5];                       /* 41 */
    char dateCode[14];                      /* 46: "MM-DD-20YY LL" */
    char serialNumber[17];                  /* 60 */
    uint32_t bitRateNominal;                /* 80: units of 100 Mbit/s */
    uint32_t bitRateMax;                    /* 84 */
    uint32_t bitRateMin;                    /* 88 */
    uint32_t encoding;                      /* 92 */
    uint32_t rateIdentifier;                /* 96 */
    uint32_t identifier;                    /* 100 */
    uint32_t extIdentifier;                 /* 104 */
    uint32_t connector;                     /* 108 */
    uint32_t wavelength;                    /* 112: nanometres */
    int32_t diagnosticsType;                /* 116: 0..3 calibration kind, 4 none */
    uint32_t complianceLevel;               /* 120 */
    int32_t lengthSmf;                      /* 124: metres; -1 and -2 are markers */
    int32_t lengthOm2;                      /* 128: metres; -1 beyond range */
    int32_t lengthOm1;                      /* 132 */
    int32_t lengthCopper;                   /* 136 */
    int32_t lengthOm3;                      /* 140 */
    int32_t options64[3];                   /* 144: A0 byte 64 bits 2, 1, 0 */
    int32_t options65[3];                   /* 156: A0 byte 65 bits 5, 4, 3 */
    int32_t losMode;                        /* 168: 0 loss of signal, 1 none, 2 inverted */
    int32_t enhancedOptions[7];             /* 172: A0 byte 93 bits 7 down to 1 */
    int32_t compliance3[8];                 /* 200: A0 byte 3 bits 7 down to 0 */
    int32_t compliance4Low[4];              /* 232: A0 byte 4 bits 5, 2, 1, 0 */
    int32_t compliance5[6];                 /* 248: A0 byte 5 bits 6, 5, 4, 2, 1, 0 */
    int32_t sonetReach;                     /* 272: 0 to 7 */
    int32_t compliance6[8];                 /* 276: A0 byte 6 bits 7 down to 0 */
    int32_t compliance4High[2];             /* 308: A0 byte 4 bits 7, 6 */
    int32_t compliance7Low[3];              /* 316: A0 byte 7 bits 2, 1, 0 */
    int32_t compliance8High[4];             /* 328: A0 byte 8 bits 7, 6, 5, 4 */
    int32_t compliance7High[5];             /* 344: A0 byte 7 bits 7, 6, 5, 4, 3 */
    int32_t compliance8Low[2];              /* 364: A0 byte 8 bits 3, 2 */
    int32_t compliance9[7];                 /* 372: A0 byte 9 bits 7 down to 2, 0 */
    int32_t compliance10[6];                /* 400: A0 byte 10 bits 5, 7, 6, 4, 2, 0 */
    float temperature;                      /* 424: degrees Celsius */
    float vcc;                              /* 428: volts */
    float txBias;                           /* 432: milliamperes */
    float txPower;                          /* 436: milliwatts */
    float rxPower;                          /* 440: milliwatts */
    NettlebeamApiSfpThresholds lowAlarm;    /* 444 */
    NettlebeamApiSfpThresholds lowWarning;  /* 464 */
    NettlebeamApiSfpThresholds highAlarm;   /* 484 */
    NettlebeamApiSfpThresholds highWarning; /* 504 */
    /* 524: bits 0..4 alarms and 5..9 warnings for temperature, vcc, txBias,
       txPower, rxPower; bit 10 TX disable, 11 TX fault, 12 RX loss of signal. */
    uint32_t alarmFlags;
} NettlebeamApiSfpModule;

typedef struct NettlebeamApiLinkStatus {
    uint8_t linkValid;              /* 0 */
    int32_t portCount;              /* 4 */
    NettlebeamApiPortLink ports[2]; /* 8: port A, port B */
    uint8_t sfpValid;               /* 32 */
    int32_t sfpCount;               /* 36 */
    NettlebeamApiSfpModule sfp[2];  /* 40: cage A, cage B */
    uint8_t phyValid;               /* 1096 */
    int32_t phyCount;               /* 1100 */
    NettlebeamApiPhyStatus phy[2];  /* 1104: port A, port B */
} NettlebeamApiLinkStatus;

/* ------------------------------------------------------------------------ */
/* Statistics and programmable counters                                      */
/* ------------------------------------------------------------------------ */

typedef struct NettlebeamApiPortStatistics {
    uint64_t lessThan64;          /* 0 */
    uint64_t from64To1518;        /* 8 */
    uint64_t moreThan1518;        /* 16 */
    uint64_t collisions;          /* 24 */
    uint64_t crcErrors;           /* 32 */
    uint64_t jabbers;             /* 40 */
    uint64_t totalBytes;          /* 48 */
    uint64_t speedWeightedCount;  /* 56: bytes the port could have carried */
    uint64_t totalValidPackets;   /* 64 */
    uint64_t totalInvalidPackets; /* 72 */
    uint64_t hwDropped;           /* 80 */
} NettlebeamApiPortStatistics;

#define NETTLEBEAM_STATISTICS_TRAILER_SIZE 16
#define NETTLEBEAM_PROGRAMMABLE_COUNTERS 16

typedef struct NettlebeamApiStatisticsV1 {
    uint64_t linkUpTime;                                 /* 24: milliseconds */
    uint64_t linkDownTime;                               /* 32: milliseconds */
    NettlebeamApiPortStatistics portA;                   /* 40 */
    NettlebeamApiPortStatistics portB;                   /* 128 */
    uint8_t trailer[NETTLEBEAM_STATISTICS_TRAILER_SIZE]; /* 216 */
} NettlebeamApiStatisticsV1;

typedef struct NettlebeamApiStatisticsV2 {
    uint64_t counters[NETTLEBEAM_PROGRAMMABLE_COUNTERS]; /* 24: counter 1 first */
    uint8_t trailer[NETTLEBEAM_STATISTICS_TRAILER_SIZE]; /* 152 */
} NettlebeamApiStatisticsV2;

/* Read `version` first: 1 selects `data.v1`, 2 selects `data.v2`. */
typedef struct NettlebeamApiStatistics {
    int32_t version;    /* 0 */
    uint64_t timestamp; /* 8: host milliseconds since boot */
    uint64_t swDropped; /* 16: packets dropped on the host side */
    union {
        NettlebeamApiStatisticsV1 v1;
        NettlebeamApiStatisticsV2 v2;
    } data; /* 24 */
} NettlebeamApiStatistics;

/* Tri-state conditions: 1 must have, 0 must not have, other (-1 on output) not tested. */
typedef struct NettlebeamApiCounterV2 {
    int32_t index;      /* 0: 0 to 15 */
    int32_t isIPv4;     /* 4 */
    int32_t isIPv6;     /* 8 */
    int32_t isbcast;    /* 12 */
    int32_t ismcast;    /* 16 */
    int32_t isucast;    /* 20 */
    int32_t isicmp;     /* 24 */
    int32_t isudp;      /* 28 */
    int32_t istcp;      /* 32 */
    int32_t iscrcValid; /* 36 */
    int32_t isDropped;  /* 40 */
    int32_t size;       /* 44: low 16 bits used */
    int32_t sizeMode;   /* 48: 0 greater, 1 less, 2 equal, other (-1) not tested */
    uint8_t ip[16];     /* 52: address pattern, last byte first */
    uint8_t ipMask[16]; /* 68: non-zero compares the pattern byte */
    int32_t port1;      /* 84: count on port A */
    int32_t port2;      /* 88: count on port B */
    int32_t mode;       /* 92: 0 packets, 1 bytes */
} NettlebeamApiCounterV2;

/* ------------------------------------------------------------------------ */
/* Hardware filters                                                          */
/* ------------------------------------------------------------------------ */

#define NETTLEBEAM_PACKET_TYPE_CLASSES 26

/* One flag per packet class, non-zero meaning selected: IPv4, IPv6, ARP, TCP,
   UDP, ICMP, IGMP, HTTPS, HTTP, FTP, DNS, SMTP, POP3, DHCP, SSH, SIP, SMB,
   TCP FIN, SYN, RST, PUSH, ACK, TCP zero window, QUIC, other layer 2, other layer 4. */
typedef struct NettlebeamApiPacketsTypeFilter {
    uint8_t flags[NETTLEBEAM_PACKET_TYPE_CLASSES];
} NettlebeamApiPacketsTypeFilter;

typedef struct NettlebeamApiDpiFilter {
    int32_t enabled;     /* 0: exactly 1 turns the filter on */
    uint8_t pattern[32]; /* 4 */
    uint32_t mask;       /* 36: bit i compares pattern byte i */
} NettlebeamApiDpiFilter;

/* Bits of NettlebeamApiPacketFilter.fieldFlags. */
enum NettlebeamApiPacketFilterField {
    NETTLEBEAM_FILTER_IPV6 = 0x01,
    NETTLEBEAM_FILTER_DST_MAC = 0x02,
    NETTLEBEAM_FILTER_SRC_MAC = 0x04,
    NETTLEBEAM_FILTER_DST_IP = 0x08,
    NETTLEBEAM_FILTER_SRC_IP = 0x10,
    NETTLEBEAM_FILTER_DST_PORT = 0x20,
    NETTLEBEAM_FILTER_SRC_PORT = 0x40
};

/* Bits of NettlebeamApiPacketFilter.eitherDirection. */
enum NettlebeamApiPacketFilterDirection {
    NETTLEBEAM_FILTER_EITHER_MAC = 0x1,
    NETTLEBEAM_FILTER_EITHER_IP = 0x2,
    NETTLEBEAM_FILTER_EITHER_PORT = 0x4
};

/* Addresses are stored last byte first. Care bit n covers the record byte at
   offset 10 + n; a byte whose bit is clear is a wildcard. */
typedef struct NettlebeamApiPacketFilter {
    int32_t enabled;          /* 0: exactly 1 turns the filter on */
    uint32_t fieldFlags;      /* 4 */
    uint16_t eitherDirection; /* 8 */
    uint8_t dstMac[6];        /* 10 */
    uint8_t srcMac[6];        /* 16 */
    uint8_t dstIp[16];        /* 22: IPv4 in the first four bytes */
    uint8_t srcIp[16];        /* 38 */
    uint16_t dstPort;         /* 54 */
    uint16_t srcPort;         /* 56 */
    uint8_t reserved[2];      /* 58 */
    uint32_t careMaskLow;     /* 60: care bits 0 to 27; bits 28..31 belong to the caller */
    uint32_t careMaskHigh;    /* 64: care bits 28 to 47; bits 20..31 belong to the caller */
} NettlebeamApiPacketFilter;

/* ------------------------------------------------------------------------ */
/* Timing                                                                    */
/* ------------------------------------------------------------------------ */

typedef struct NettlebeamApiTimingTime {
    int32_t source;    /* 0: 2, 4 or 5 */
    int32_t timeWord1; /* 4 */
    int32_t timeWord2; /* 8 */
} NettlebeamApiTimingTime;

typedef struct NettlebeamApiTimingStatus {
    int32_t gpsModuleAbsent;   /* 0 */
    int32_t gpsFix;            /* 4: 0, 1 or 2 */
    int32_t satellitesUsed;    /* 8 */
    int32_t gpsSatellites;     /* 12 */
    int32_t glonassSatellites; /* 16 */
    int32_t timingFlagA;       /* 20 */
    int32_t timingFlagB;       /* 24 */
    int32_t timingFlagC;       /* 28 */
    double ppsDeviation;       /* 32: nanoseconds */
    int32_t ppsAccuracy;       /* 40: nanoseconds */
    int32_t timeSource;        /* 44: 0 to 5 */
    int32_t rtcHour;           /* 48 */
    int32_t rtcMinute;         /* 52 */
    int32_t rtcSecond;         /* 56 */
    int32_t rtcYear;           /* 60 */
    int32_t rtcMonth;          /* 64 */
    int32_t rtcDay;            /* 68 */
} NettlebeamApiTimingStatus;

/* ------------------------------------------------------------------------ */
/* Direct capture and memory capture                                         */
/* ------------------------------------------------------------------------ */

typedef struct NettlebeamApiDiskDumpConfig {
    int32_t loop;                        /* 0: exactly 1 loops over the file set */
    int32_t extraOption;                 /* 4 */
    int32_t mode;                        /* 8: only 0 is supported */
    const NettlebeamApiChar16* fileName; /* 16: zero-terminated base name */
    uint64_t fileSize;                   /* 24: bytes per file, 0 no limit */
    uint64_t maxCache;                   /* 32: bytes */
    int32_t fileCount;                   /* 40: 0 unlimited */
    int32_t fileDuration;                /* 44: seconds, 0 no limit */
    int32_t fullFrames;                  /* 48: needs CapCaptureV2 */
} NettlebeamApiDiskDumpConfig;

typedef struct NettlebeamApiDiskDumpStatus {
    uint8_t enabled;       /* 0 */
    uint8_t statusFlag;    /* 1 */
    uint64_t cacheUsed;    /* 8: bytes */
    uint64_t bytesWritten; /* 16 */
    uint64_t bytesDropped; /* 24 */
    int32_t error;         /* 32: status code */
    uint64_t maxCache;     /* 40: bytes */
    uint64_t filesWritten; /* 48 */
} NettlebeamApiDiskDumpStatus;

/* ------------------------------------------------------------------------ */
/* Callbacks                                                                 */
/* ------------------------------------------------------------------------ */

/* Kinds of the global table. */
enum NettlebeamApiGlobalCallbackKind {
    NETTLEBEAM_CALLBACK_NEW_DEVICE = 0,
    NETTLEBEAM_CALLBACK_DEVICE_GONE = 1
};

/* Kinds of a device's table. */
enum NettlebeamApiDeviceCallbackKind {
    NETTLEBEAM_CALLBACK_DISK_DUMP_STATUS = 0, /* payload: NettlebeamApiCallbackValue_DiskDump */
    NETTLEBEAM_CALLBACK_NEW_CAPTURE_FILE = 1  /* payload: zero-terminated UTF-16 full name */
};

typedef struct NettlebeamApiCallbackValue_DiskDump {
    uint8_t enabled; /* 0 */
    int32_t error;   /* 4: status code */
} NettlebeamApiCallbackValue_DiskDump;

/* Payloads are valid only during the call. */
typedef void (*NettlebeamApiCallback)(NettlebeamApiDeviceHandle handle, void* payload,
                                      void* userData);
typedef void (*NettlebeamApiSimpleCallback)(NettlebeamApiDeviceHandle handle, void* userData);

/* ------------------------------------------------------------------------ */
/* Exports                                                                   */
/* ------------------------------------------------------------------------ */

/* Library frame and device list */
NETTLEBEAM_API int32_t NettlebeamAPIInitialize(void);
NETTLEBEAM_API int32_t NettlebeamAPIUninitialize(void);
NETTLEBEAM_API NettlebeamApiDevicesList* NettlebeamAPIGetDevicesList(void);
NETTLEBEAM_API void NettlebeamApiDeviceListFree(NettlebeamApiDevicesList* list);
NETTLEBEAM_API void NettlebeamApiSleepMs(uint32_t milliseconds);
NETTLEBEAM_API uint32_t NettlebeamAPIGetVersion(void);

/* Identity, capabilities and versions */
NETTLEBEAM_API int32_t NettlebeamAPIGetDeviceType(NettlebeamApiDeviceHandle handle,
                                                  NettlebeamApiDeviceType* type);
NETTLEBEAM_API NettlebeamApiCapabilities
NettlebeamAPIGetDeviceCapabilities(NettlebeamApiDeviceType type);
NETTLEBEAM_API NettlebeamApiCapabilities
NettlebeamAPIGetDeviceCapabilitiesEx(NettlebeamApiDeviceHandle handle);
NETTLEBEAM_API int32_t NettlebeamAPIGetDeviceMAC(NettlebeamApiDeviceHandle handle, uint8_t* mac);
NETTLEBEAM_API int32_t NettlebeamAPIGetDeviceExtraInfo(NettlebeamApiDeviceHandle handle,
                                                       uint8_t* usbSpeed);
NETTLEBEAM_API int32_t NettlebeamAPIGetVersions(NettlebeamApiDeviceHandle handle,
                                                NettlebeamApiVersions* versions);
NETTLEBEAM_API int32_t NettlebeamAPIGetHwFirmwaresDesc(NettlebeamApiDeviceHandle handle,
                                                       NettlebeamApiHwFirmwaresDesc* desc);

/* Features, port speeds and restart */
NETTLEBEAM_API int32_t NettlebeamAPIGetDeviceFeatures(NettlebeamApiDeviceHandle handle,
                                                      NettlebeamApiDeviceFeatures* features);
NETTLEBEAM_API int32_t NettlebeamAPISetDeviceFeatures(NettlebeamApiDeviceHandle handle,
                                                      NettlebeamApiDeviceFeatures features);
NETTLEBEAM_API int32_t NettlebeamAPISaveDeviceFeatures(NettlebeamApiDeviceHandle handle);
NETTLEBEAM_API int32_t NettlebeamAPIGetDevicePortsSpeed(NettlebeamApiDeviceHandle handle,
                                                        NettlebeamApiPortsSpeed* portsSpeed);
NETTLEBEAM_API int32_t NettlebeamAPISetDevicePortsSpeed(NettlebeamApiDeviceHandle handle,
                                                        NettlebeamApiPortsSpeed portsSpeed);
NETTLEBEAM_API int32_t NettlebeamAPIRestartDevice(NettlebeamApiDeviceHandle handle);

/* Link status */
NETTLEBEAM_API int32_t NettlebeamAPIGetLinkStatus(NettlebeamApiDeviceHandle handle,
                                                  NettlebeamApiLinkStatus* status);

/* Statistics and programmable counters */
NETTLEBEAM_API int32_t NettlebeamAPIGetStatistics(NettlebeamApiDeviceHandle handle,
                                                  NettlebeamApiStatistics* statistics);
NETTLEBEAM_API int32_t NettlebeamAPISetCounterV2(NettlebeamApiDeviceHandle handle,
                                                 NettlebeamApiCounterV2 counter);
NETTLEBEAM_API int32_t NettlebeamAPIGetCounterV2(NettlebeamApiDeviceHandle handle, int32_t index,
                                                 NettlebeamApiCounterV2* counter);

/* Hardware filters */
NETTLEBEAM_API int32_t NettlebeamAPISetPacketsTypeFilter(NettlebeamApiDeviceHandle handle,
                                                         NettlebeamApiPacketsTypeFilter filter);
NETTLEBEAM_API int32_t NettlebeamAPIGetPacketsTypeFilter(NettlebeamApiDeviceHandle handle,
                                                         NettlebeamApiPacketsTypeFilter* filter);
NETTLEBEAM_API int32_t NettlebeamAPISavePacketsTypeFilter(NettlebeamApiDeviceHandle handle);
NETTLEBEAM_API int32_t NettlebeamAPISetDpiFilter(NettlebeamApiDeviceHandle handle,
                                                 NettlebeamApiDpiFilter filter);
NETTLEBEAM_API int32_t NettlebeamAPIGetDpiFilter(NettlebeamApiDeviceHandle handle,
                                                 NettlebeamApiDpiFilter* filter);
NETTLEBEAM_API int32_t NettlebeamAPISaveDpiFilter(NettlebeamApiDeviceHandle handle);
NETTLEBEAM_API int32_t NettlebeamAPISetPacketFilter(NettlebeamApiDeviceHandle handle,
                                                    NettlebeamApiPacketFilter filter);
NETTLEBEAM_API int32_t NettlebeamAPIGetPacketFilter(NettlebeamApiDeviceHandle handle,
                                                    NettlebeamApiPacketFilter* filter);
NETTLEBEAM_API int32_t NettlebeamAPISavePacketFilter(NettlebeamApiDeviceHandle handle);

/* Timing and GPS output */
NETTLEBEAM_API int32_t NettlebeamAPISetTimingTime(NettlebeamApiDeviceHandle handle,
                                                  NettlebeamApiTimingTime time);
NETTLEBEAM_API int32_t NettlebeamAPIGetTimingStatus(NettlebeamApiDeviceHandle handle,
                                                    NettlebeamApiTimingStatus* status);
NETTLEBEAM_API int32_t NettlebeamAPIGPSOutputRead(NettlebeamApiDeviceHandle handle, void* buffer,
                                                  int32_t bufferSize, int32_t* lengthRead);
NETTLEBEAM_API int32_t NettlebeamAPIGPSOutputFlush(NettlebeamApiDeviceHandle handle);

/* Direct capture and memory capture */
NETTLEBEAM_API int32_t NettlebeamAPIDiskDumpSetConfig(NettlebeamApiDeviceHandle handle,
                                                      NettlebeamApiDiskDumpConfig config);
NETTLEBEAM_API int32_t NettlebeamAPIDiskDumpStart(NettlebeamApiDeviceHandle handle);
NETTLEBEAM_API int32_t NettlebeamAPIDiskDumpStop(NettlebeamApiDeviceHandle handle);
NETTLEBEAM_API int32_t NettlebeamAPIDiskDumpGetStatus(NettlebeamApiDeviceHandle handle,
                                                      NettlebeamApiDiskDumpStatus* status);
/* `frames`: out, the frames the direct capture has written to its files since it last
 * started (a frame dropped for lack of cache is not written); 0 before the first capture.
 * NETTLEBEAM_STATUS_UNKNOWN_HANDLE for a handle not listed, NETTLEBEAM_STATUS_FAILED for a
 * NULL `frames` or a driver that does not answer with the count (then `frames` is left
 * as it was), NETTLEBEAM_STATUS_NOT_SUPPORTED for a device without CapCapture. */
NETTLEBEAM_API int32_t NettlebeamAPIDiskDumpGetFramesWritten(NettlebeamApiDeviceHandle handle,
                                                             uint64_t* frames);
NETTLEBEAM_API int32_t NettlebeamAPIMemoryCaptureStart(NettlebeamApiDeviceHandle handle,
                                                       int32_t mode);
NETTLEBEAM_API int32_t NettlebeamAPIMemoryCaptureStop(NettlebeamApiDeviceHandle handle);
/* `size`: in, the buffer's size (at least NETTLEBEAM_MEMORY_CAPTURE_MIN_BUFFER); out, bytes
 * written. */
NETTLEBEAM_API int32_t NettlebeamAPIMemoryCaptureGet(NettlebeamApiDeviceHandle handle, void* buffer,
                                                     int32_t* size);
NETTLEBEAM_API int32_t NettlebeamAPIMemoryCaptureGetHeader(NettlebeamApiDeviceHandle handle,
                                                           void* buffer, int32_t* size);

/* Firmware update */
NETTLEBEAM_API int32_t NettlebeamAPIFirmwareUpdateStart(NettlebeamApiDeviceHandle handle,
                                                        const NettlebeamApiChar16* path);
NETTLEBEAM_API int32_t NettlebeamAPIFirmwareUpdateGetProgress(NettlebeamApiDeviceHandle handle,
                                                              int32_t* progress);

/* Callbacks */
NETTLEBEAM_API int32_t NettlebeamAPIAddGlobalCallback(int32_t kind, NettlebeamApiCallback callback,
                                                      void* userData);
NETTLEBEAM_API int32_t NettlebeamAPIRemoveGlobalCallback(int32_t kind,
                                                         NettlebeamApiCallback callback);
NETTLEBEAM_API int32_t NettlebeamAPIAddNewDeviceCallback(NettlebeamApiSimpleCallback callback,
                                                         void* userData);
NETTLEBEAM_API int32_t NettlebeamAPIRemoveNewDeviceCallback(NettlebeamApiSimpleCallback callback);
NETTLEBEAM_API int32_t NettlebeamAPIAddDeviceGoneCallback(NettlebeamApiSimpleCallback callback,
                                                          void* userData);
NETTLEBEAM_API int32_t NettlebeamAPIRemoveDeviceGoneCallback(NettlebeamApiSimpleCallback callback);
NETTLEBEAM_API int32_t NettlebeamAPIAddDeviceCallback(NettlebeamApiDeviceHandle handle,
                                                      int32_t kind, NettlebeamApiCallback callback,
                                                      void* userData);
NETTLEBEAM_API int32_t NettlebeamAPIRemoveDeviceCallback(NettlebeamApiDeviceHandle handle,
                                                         int32_t kind,
                                                         NettlebeamApiCallback callback);

#ifdef __cplusplus
}
#endif

#endif /* NETTLEBEAM_API_H */
