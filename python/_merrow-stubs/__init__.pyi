"""Type stubs for the _merrow extension module, installed as the stub-only
package `_merrow-stubs` so that type checkers find them."""

from typing import Dict, List, Optional, Tuple

__all__: List[str]

# (token, jyutping, lang, confidence, source)
_DetailedToken = Tuple[str, str, str, str, str]
# (token, candidate_readings, lang, confidence, source)
_CandidateToken = Tuple[str, List[str], str, str, str]

class PyPipeline:
    """Cantonese text to Jyutping on one data directory (the C++ engine)."""

    def __new__(
        cls,
        punc_norm: bool = True,
        data_dir: Optional[str] = None,
        user_dict: Optional[Dict[str, str]] = None,
    ) -> "PyPipeline": ...
    @staticmethod
    def from_dir(dir: str, punc_norm: bool = True) -> "PyPipeline": ...
    def convert(self, text: str) -> str: ...
    def convert_batch(self, texts: List[str]) -> List[str]: ...
    def convert_detailed(self, text: str) -> List[_DetailedToken]: ...
    def convert_detailed_batch(self, texts: List[str]) -> List[List[_DetailedToken]]: ...
    def convert_candidates(self, text: str) -> List[_CandidateToken]: ...
    def convert_candidates_batch(self, texts: List[str]) -> List[List[_CandidateToken]]: ...
