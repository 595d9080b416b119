#pragma once
// The marker file on each target drive and the worker thread that reads it.
#include <cstdint>
#include <string>

constexpr std::uint32_t MarkerSize = 4096;

// The drives whose markers this run has made anew: the worker's own, never made anew twice.
extern std::u16string RemadeMarkers;

std::u16string MarkerPath(char16_t letter);
std::u16string MarkerFolder(char16_t letter);
// The path of the marker to read, there or made; empty when none can be had.
std::u16string EnsureMarker(char16_t letter);
// False while another program holds the marker: it is to be tried again later.
bool RemoveMarker(char16_t letter);

// What a pass does with what it finds at a marker's path: its attributes and size, if found.
enum class MarkerAction { Use, Make, Remake, Skip };
MarkerAction JudgeMarker(bool found, std::uint32_t attributes, std::uint64_t size, bool remadeBefore);

void KeepAwakePass(void* readBuffer);
std::uint32_t KeepAwakeWorker(void* parameter);
// Tells the worker to stop and waits for it a bounded time; false when it is still in a pass.
bool StopKeepAwakeWorker();
// The same in two steps, so that other work runs within the bound: the first returns when it asked.
std::uint64_t AskKeepAwakeWorkerToStop();
bool WaitForKeepAwakeWorker(std::uint64_t askedAt);
