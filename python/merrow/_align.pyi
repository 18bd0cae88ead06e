from typing import List, Mapping, Optional, Tuple

# (start, end, original, normalised, reading, lang, confidence, source, whole_word)
RawEntry = Tuple[int, int, str, str, str, str, str, str, bool]

class AlignPipeline:
    def __init__(
        self, data_dir: str, punc_norm: bool = True, user_dict: Optional[Mapping[str, str]] = None
    ) -> None: ...
    def align(self, text: str) -> List[RawEntry]: ...
    def align_batch(self, texts: List[str]) -> List[List[RawEntry]]: ...
