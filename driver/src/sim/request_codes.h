// The control codes of the driver's request table, as the devices answer them.
#pragma once

#include <cstdint>

namespace nettlebeam::driver::sim::code {

constexpr uint32_t kSaveConfiguration = 0xCB202004;
constexpr uint32_t kWriteConfiguration = 0xCB202008;
constexpr uint32_t kReadConfiguration = 0xCB20200C;
constexpr uint32_t kStatisticsFormat1 = 0xCB202010;
constexpr uint32_t kVersions = 0xCB20201C;
constexpr uint32_t kHardwareId = 0xCB202020;
constexpr uint32_t kHostDropCounter = 0xCB202024;
constexpr uint32_t kMacAddress = 0xCB202028;
constexpr uint32_t kTimingStatus = 0xCB202030;
constexpr uint32_t kLinkStatusByte = 0xCB202034;
constexpr uint32_t kPortSpeedByte = 0xCB202040;
constexpr uint32_t kLinkDetails = 0xCB202044;
constexpr uint32_t kTransceiverData = 0xCB202048;
constexpr uint32_t kReadDpiFilter = 0xCB20204C;
constexpr uint32_t kWriteDpiFilter = 0xCB202050;
constexpr uint32_t kSaveDpiFilter = 0xCB202054;
constexpr uint32_t kWriteCounter = 0xCB202058;
constexpr uint32_t kReadCounter = 0xCB20205C;
constexpr uint32_t kStatisticsFormat2 = 0xCB202060;
constexpr uint32_t kReadPacketFilter = 0xCB202064;
constexpr uint32_t kWritePacketFilter = 0xCB202068;
constexpr uint32_t kSavePacketFilter = 0xCB20206C;
constexpr uint32_t kSetTimingTime = 0xCB202078;
constexpr uint32_t kRestart = 0xCB20207C;
constexpr uint32_t kExtraInformation = 0xCB202088;
constexpr uint32_t kStatisticsTrailer = 0xCB20208C;
constexpr uint32_t kReadPacketTypeFilter = 0xCB202090;
constexpr uint32_t kWritePacketTypeFilter = 0xCB202094;
constexpr uint32_t kSavePacketTypeFilter = 0xCB202098;
constexpr uint32_t kFirmwareBegin1 = 0xCB202400;
constexpr uint32_t kFirmwareBegin2 = 0xCB202404;
constexpr uint32_t kFirmwareFinish1 = 0xCB202408;
constexpr uint32_t kFirmwareFinish2 = 0xCB20240C;
constexpr uint32_t kFirmwareData1 = 0xCB202410;
constexpr uint32_t kFirmwareData2 = 0xCB202414;
constexpr uint32_t kFirmwareProgress1 = 0xCB202418;
constexpr uint32_t kFirmwareProgress2 = 0xCB20241C;
constexpr uint32_t kCaptureStart = 0xCB202800;
constexpr uint32_t kCaptureStop = 0xCB202804;
constexpr uint32_t kCaptureFileName = 0xCB202808;
constexpr uint32_t kCaptureLoop = 0xCB20280C;
constexpr uint32_t kCaptureExtraOption = 0xCB202810;
constexpr uint32_t kCaptureFileCount = 0xCB202814;
constexpr uint32_t kCaptureMaxCache = 0xCB202818;
constexpr uint32_t kCaptureFileSize = 0xCB20281C;
constexpr uint32_t kCaptureStatus = 0xCB202820;
constexpr uint32_t kCaptureMode = 0xCB202824;
constexpr uint32_t kCaptureFileDuration = 0xCB202828;
constexpr uint32_t kCaptureFullFrames = 0xCB20282C;
constexpr uint32_t kMemoryCaptureStart = 0xCB202C00;
constexpr uint32_t kMemoryCaptureStop = 0xCB202C04;
constexpr uint32_t kMemoryCaptureData = 0xCB202C0B;
constexpr uint32_t kMemoryCaptureMode = 0xCB202C0C;
constexpr uint32_t kMemoryCaptureHeader = 0xCB202C10;
constexpr uint32_t kGpsOutputRead = 0xCB203000;
constexpr uint32_t kGpsOutputFlush = 0xCB203004;

}  // namespace nettlebeam::driver::sim::code
