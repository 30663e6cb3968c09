// SPDX-License-Identifier: MIT
#pragma once
// The busy wait of the serial link: delaytime seconds on a monotonic clock,
// so the wait is right across midnight and clock changes. Window events are
// not processed meanwhile; bytes arriving wait in the receive buffer.

void Tdelay(double delaytime);
