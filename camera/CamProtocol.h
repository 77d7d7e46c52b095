#pragma once

// The camera's file service (register space 0x1009) and text console (0x1007):
// selecting a file by path, its status words, and moving data through a
// mailbox and a data window. Answers 1 on success and 0 on failure.

#include "CamDevice.h"

#include <cstdint>

constexpr uint32_t kCamRegTransfer = 0x00000000;
constexpr uint32_t kCamRegName = 0x00000004;
constexpr uint32_t kCamRegStatus = 0x00000100;
constexpr uint32_t kCamRegSize = 0x00000104;
constexpr uint32_t kCamRegAttributes = 0x00000108;
constexpr uint32_t kCamRegTime = 0x0000010C;
constexpr uint32_t kCamRegCrc = 0x010000F0;
constexpr uint32_t kCamRegOffset = 0x010000F4;
constexpr uint32_t kCamRegLength = 0x010000F8;
constexpr uint32_t kCamRegCommand = 0x010000FC;
constexpr uint32_t kCamRegCommandStatus = 0x01000100;
constexpr uint32_t kCamDataWindow = 0x10000000;

constexpr uint32_t kCamStatusBusy = 0x01;
constexpr uint32_t kCamStatusDone = 0x02;
constexpr uint32_t kCamStatusReadable = 0x08;
constexpr uint32_t kCamStatusWritable = 0x10;
constexpr uint32_t kCamStatusDeletable = 0x20;
constexpr uint32_t kCamStatusGrowable = 0x40;
constexpr uint32_t kCamStatusWholeFile = 0x80;

constexpr uint32_t kCamCmdRead = 0xF11E0EAD;
constexpr uint32_t kCamCmdWrite = 0xF11EFEED;
constexpr uint32_t kCamCmdDelete = 0xF11EDE1E;

constexpr uint32_t kCamCommandIdle = 0;
constexpr uint32_t kCamCommandBusy = 1;
constexpr uint32_t kCamCommandDone = 2;

constexpr uint32_t kCamAttrReadOnly = 0x1;
constexpr uint32_t kCamAttrVisible = 0x2;

constexpr uint32_t kCamConsoleFlag = 0x0;
constexpr uint32_t kCamConsoleBlock = 0x80;
constexpr int kCamConsoleBlockBytes = 128;
constexpr int kCamConsoleMaxMessage = 127;

constexpr int kCamMaxPathLength = 123;
constexpr int kCamNameBlockBytes = 124;
constexpr uint32_t kCamWindowChunk = 8192;
constexpr uint32_t kCamUsbWritePiece = 512;
// Whole-file files are rewritten through a host buffer of their size.
constexpr uint32_t kCamMaxWholeFileBytes = 64u << 20;

int CamProtoSelectFile(CamDevice* device, const char* path, uint32_t* status);
int CamProtoStat(CamDevice* device, const char* path, uint32_t* size, uint32_t* time, uint32_t* attributes,
                 uint32_t* status);
int CamProtoRead(CamDevice* device, const char* path, uint32_t offset, void* buffer, uint32_t length,
                 uint32_t* bytesRead);
int CamProtoWrite(CamDevice* device, const char* path, uint32_t offset, const void* data, uint32_t length);
int CamProtoDelete(CamDevice* device, const char* path);
int CamProtoSetAttributes(CamDevice* device, const char* path, uint32_t attributes);

int CamConsoleRead(CamDevice* device, void* buffer, uint32_t length, uint32_t* bytesRead);
int CamConsoleWrite(CamDevice* device, const void* data, uint32_t length);
int CamConsoleOff(CamDevice* device);

// CRC-16/XMODEM: polynomial 0x1021, initial 0, most significant bit first.
uint16_t Crc16Ccitt(const void* data, uint32_t count);
// Whether this device's file service carries CRC-16 checks.
bool CamProtoChecksCrc(CamDevice* device);
