// Simulator face only: placeholder until GetModuleFileNameW is simulated.
