// Placeholder: not written yet.
