import sys

from merrow.cli import main

sys.exit(main())
