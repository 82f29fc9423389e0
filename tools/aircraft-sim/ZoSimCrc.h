#pragma once

#include <cstddef>
#include <cstdint>

// The two checksums of the aircraft's wires, written here from their
// definitions so the simulator does not share a fault with the program.
namespace ZoSimCrc {

// CRC-16/MODBUS: reflected 0xA001, initial 0xFFFF, no final XOR.
uint16_t modbus(const uint8_t *data, size_t length);

// CRC-16/XMODEM: 0x1021, initial 0, not reflected, no final XOR.
uint16_t xmodem(const uint8_t *data, size_t length);

} // namespace ZoSimCrc
