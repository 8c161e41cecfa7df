# demo placeholder
