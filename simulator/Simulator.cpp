#include "Simulator.h"

#include "Machine.h"

namespace mirtolan {

RunReport RunProgram(const BuildResult& program, const RunOptions& options)
{
    Machine machine(program, options);
    if (machine.error().empty())
        machine.run();
    return machine.report();
}

} // namespace mirtolan
