#include "sim/SimulatedLine.h"

void installSimulatedLine()
{
}
