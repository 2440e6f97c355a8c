// placeholder until the bomb tests are written
