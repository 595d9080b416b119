#pragma once
// The marker file on each target drive and the worker thread that reads it.
#include <cstdint>
#include <string>

constexpr std::uint32_t MarkerSize = 4096;

std::u16string MarkerPath(char16_t letter);
bool EnsureMarker(char16_t letter);
void RemoveMarker(char16_t letter);

void KeepAwakePass(void* readBuffer);
std::uint32_t KeepAwakeWorker(void* parameter);
